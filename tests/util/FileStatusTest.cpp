#include "util/FileStatus.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>

class FileStatusTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return home_.path() + "/Data/" + name; }
    TempHome home_;
};

TEST_F(FileStatusTest, FileGivesItsTimeAndSize) {
    WriteTestFile(Path("report.txt"), std::string(1234, 'r'));
    SetModificationTime(Path("report.txt"), 2015, 3, 1, 9, 5, 0);
    const auto status = QueryFileStatus(Path("report.txt"));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->size, 1234u);
    EXPECT_FALSE(status->isDirectory);
    std::tm local{};
    localtime_r(&status->modificationTime, &local);
    EXPECT_EQ(local.tm_year + 1900, 2015);
    EXPECT_EQ(local.tm_hour, 9);
    EXPECT_EQ(local.tm_min, 5);
    EXPECT_EQ(PathSize(Path("report.txt")), 1234u);
}

TEST_F(FileStatusTest, FolderHasAStatusWithoutSize) {
    WriteTestFile(Path("inner/a.txt"), "aaaa");
    const auto status = QueryFileStatus(Path("inner"));
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->isDirectory);
    EXPECT_EQ(PathSize(Path("inner")), 0u);
}

TEST_F(FileStatusTest, MissingPathHasNoStatus) {
    EXPECT_FALSE(QueryFileStatus(Path("missing.txt")));
    EXPECT_EQ(PathSize(Path("missing.txt")), 0u);
    EXPECT_FALSE(QueryFileStatus(Path("missing/*.*")));
}

TEST_F(FileStatusTest, StarDotStarMatchesEveryNameIncludingDotFiles) {
    WriteTestFile(Path(".hidden"), "12345");
    WriteTestFile(Path("plain"), "1");
    WriteTestFile(Path("z.txt"), "12");
    // The first match in byte order: ".hidden".
    const auto status = QueryFileStatus(Path("*.*"));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->size, 5u);
    EXPECT_EQ(PathSize(Path("*")), 5u);
}

TEST_F(FileStatusTest, PatternSelectsMatchingNamesOnly) {
    WriteTestFile(Path("a.doc"), "1");
    WriteTestFile(Path("b.txt"), "123");
    WriteTestFile(Path("c.txt"), "1234567");
    EXPECT_EQ(PathSize(Path("*.txt")), 3u);
    EXPECT_EQ(PathSize(Path("c.t?t")), 7u);
}

TEST_F(FileStatusTest, PatternMatchingNothingHasNoStatusAndSizeZero) {
    WriteTestFile(Path("a.doc"), "1");
    EXPECT_FALSE(QueryFileStatus(Path("*.txt")));
    EXPECT_EQ(PathSize(Path("*.txt")), 0u);
}

TEST_F(FileStatusTest, EmptyFolderPatternFindsNothing) {
    std::filesystem::create_directories(Path("empty"));
    EXPECT_TRUE(QueryFileStatus(Path("empty")));
    EXPECT_FALSE(QueryFileStatus(Path("empty/*.*")));
    EXPECT_EQ(PathSize(Path("empty/*.*")), 0u);
}
