#include "util/FileError.h"
#include "util/TextFile.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

using Lines = std::vector<std::string>;

class TextFileTest : public ::testing::Test {
protected:
    std::string FileWith(const std::string& bytes) {
        const std::string path = home_.path() + "/text.txt";
        WriteTestFile(path, bytes);
        return path;
    }
    TempHome home_;
};

TEST_F(TextFileTest, ReadsCrLfAndLfLineEnds) {
    EXPECT_EQ(ReadLines(FileWith("one\r\ntwo\nthree\r\n")), (Lines{"one", "two", "three"}));
    EXPECT_EQ(ReadLines(FileWith("last line without end")), (Lines{"last line without end"}));
    EXPECT_EQ(ReadLines(FileWith("\r\n\r\nx")), (Lines{"", "", "x"}));
    EXPECT_EQ(ReadLines(FileWith("")), Lines{});
}

TEST_F(TextFileTest, LoneCarriageReturnsAreKept) {
    EXPECT_EQ(ReadLines(FileWith("a\rb\r\r\nc\r")), (Lines{"a\rb\r", "c\r"}));
}

TEST_F(TextFileTest, EveryByteRoundTrips) {
    std::string allBytes;
    for (int byte = 1; byte < 256; ++byte)
        if (byte != '\n' && byte != '\r') allBytes += static_cast<char>(byte);
    allBytes += std::string(1, '\0') + "end";
    const std::string path = home_.path() + "/bytes.txt";
    WriteFileAtomically(path, ToCrLf(allBytes + "\n" + allBytes + "\n"));
    EXPECT_EQ(ReadLines(path), (Lines{allBytes, allBytes}));
}

TEST_F(TextFileTest, ReadsAMegabyteLine) {
    const std::string longLine(1024 * 1024, 'x');
    EXPECT_EQ(ReadLines(FileWith("a\r\n" + longLine + "\r\nb\r\n")), (Lines{"a", longLine, "b"}));
}

TEST_F(TextFileTest, MissingFileThrowsNamingTheFile) {
    const std::string path = home_.path() + "/missing.txt";
    try {
        ReadLines(path);
        FAIL() << "no FileError";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), path);
    }
    EXPECT_THROW(FileContainsText(path, "x"), FileError);
    EXPECT_THROW(ReadFileBytes(home_.path()), FileError);
}

TEST_F(TextFileTest, ContainsTextAnywhereInALine) {
    const std::string path = FileWith("[1031]\r\n00001 Sicherung [3079] ende\r\n[EOL]\r\n");
    EXPECT_TRUE(FileContainsText(path, "[3079]"));
    EXPECT_TRUE(FileContainsText(path, "[EOL]"));
    EXPECT_FALSE(FileContainsText(path, "[3080]"));
    EXPECT_FALSE(FileContainsText(path, "sicherung"));
    // Line ends are not part of a line.
    EXPECT_FALSE(FileContainsText(path, "ende\r"));
    EXPECT_FALSE(FileContainsText(FileWith(""), "x"));
}

TEST(CrLf, ConvertsOnlyBareLineFeeds) {
    EXPECT_EQ(ToCrLf("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(ToCrLf("a\r\nb"), "a\r\nb");
    EXPECT_EQ(ToCrLf("\n\n"), "\r\n\r\n");
}

TEST_F(TextFileTest, SmallRegularFilesOnlyAreRead) {
    EXPECT_EQ(ReadSmallRegularFile(FileWith("a\r\nb"), 4), "a\r\nb");

    const std::string fifo = home_.path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Without a writer a blocking open would never return.
    for (const std::string& path : {fifo, std::string("/dev/zero"), home_.path()}) {
        SCOPED_TRACE(path);
        try {
            ReadSmallRegularFile(path);
            ADD_FAILURE() << "read";
        } catch (const FileError& error) {
            EXPECT_EQ(error.path(), path);
        }
    }
    const std::string large = FileWith("12345");
    EXPECT_THROW(ReadSmallRegularFile(large, 4), FileError);
    // The unlimited reader still reads it.
    EXPECT_EQ(ReadFileBytes(large), "12345");
}
