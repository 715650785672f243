#include "util/ShortenedPath.h"

#include <gtest/gtest.h>

namespace {
std::string Repeat(const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}
}  // namespace

TEST(ShortenPath, ShortPathsStayAsTheyAre) {
    const std::string path = "/" + std::string(48, 'p');
    EXPECT_EQ(ShortenPath(path, 50, 15), path);
    EXPECT_EQ(ShortenPath("", 50, 15), "");
}

TEST(ShortenPath, KeepsHeadAndTailAroundDots) {
    std::string path;
    for (int i = 0; i < 60; ++i) path += static_cast<char>('A' + i % 26);
    const std::string shortened = ShortenPath(path, 50, 15);
    EXPECT_EQ(shortened, path.substr(0, 15) + " ... " + path.substr(60 - 29));
    EXPECT_EQ(shortened.size(), 49u);
    // A path of exactly n characters is shortened too.
    EXPECT_EQ(ShortenPath(path.substr(0, 50), 50, 15).size(), 49u);
    EXPECT_EQ(ShortenPath(path, 80, 15), path);
}

TEST(ShortenPath, CountsCharactersNotBytes) {
    // 20 two-byte, 20 three-byte and 20 four-byte characters: 60 characters.
    const std::string path =
        Repeat("\xC3\xA4", 20) + Repeat("\xE2\x82\xAC", 20) + Repeat("\xF0\x9F\x93\x81", 20);
    EXPECT_EQ(CharacterCount(path), 60u);
    const std::string shortened = ShortenPath(path, 50, 15);
    EXPECT_EQ(shortened,
              Repeat("\xC3\xA4", 15) + " ... " + Repeat("\xE2\x82\xAC", 9) + Repeat("\xF0\x9F\x93\x81", 20));
    EXPECT_EQ(CharacterCount(shortened), 49u);
    // 49 multi-byte characters are fewer than 50, however many bytes they take.
    const std::string fortyNine = Repeat("\xE2\x82\xAC", 49);
    EXPECT_EQ(ShortenPath(fortyNine, 50, 15), fortyNine);
}

TEST(ShortenPath, StrayBytesAreCharactersOfTheirOwn) {
    EXPECT_EQ(CharacterCount("\x80\x80"), 2u);
    EXPECT_EQ(CharacterCount("\xC3"), 1u);
    EXPECT_EQ(CharacterCount("\xC3"
                             "a"),
              2u);
    const std::string path = std::string(30, '\xA4') + std::string(30, 'x');
    EXPECT_EQ(ShortenPath(path, 50, 15), std::string(15, '\xA4') + " ... " + std::string(29, 'x'));
}

TEST(ShortenPath, TooSmallLimitsDoNotOverrun) {
    EXPECT_EQ(ShortenPath("abcdefghij", 5, 15), "abcdefghij ... ");
    EXPECT_EQ(ShortenPath("abcdefghij", 8, 3), "abc ... ");
}
