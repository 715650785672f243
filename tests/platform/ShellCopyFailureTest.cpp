#include "platform/ShellCopy.h"

#include "CopyTestSupport.h"
#include "support/FileSizeLimit.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <filesystem>

namespace fs = std::filesystem;

class ShellCopyFailureTest : public ::testing::Test {
protected:
    std::string Source(const std::string& name = "") const { return home_.path() + "/Data" + name; }
    std::string Backup(const std::string& name = "") const { return home_.path() + "/Backup" + name; }

    TempHome home_;
    RecordingReporter reporter_;
};

TEST_F(ShellCopyFailureTest, FolderWhereTheFileMustGoIsReportedAndKept) {
    WriteTestFile(Source("/a.txt"), "alpha");
    WriteTestFile(Source("/b.txt"), "beta");
    WriteTestFile(Backup("/a.txt/inside"), "not to be lost");
    ShellCopy(Source("/*.*"), Backup(), false, reporter_);

    ASSERT_EQ(reporter_.errors.size(), 1u);
    EXPECT_EQ(reporter_.errors[0].first, Backup("/a.txt"));
    EXPECT_EQ(ReadTestFile(Backup("/a.txt/inside")), "not to be lost");
    EXPECT_EQ(ReadTestFile(Backup("/b.txt")), "beta");
    EXPECT_EQ(TreeListing(Backup()), (std::set<std::string>{"a.txt", "a.txt/inside", "b.txt"}));
}

TEST_F(ShellCopyFailureTest, FileWhereTheFolderMustGoIsReportedAndKept) {
    WriteTestFile(Source("/Sub/c.txt"), "gamma");
    WriteTestFile(Source("/d.txt"), "delta");
    WriteTestFile(Backup("/Sub"), "a file named like the folder");
    ShellCopy(Source("/*.*"), Backup(), false, reporter_);

    ASSERT_EQ(reporter_.errors.size(), 1u);
    EXPECT_EQ(reporter_.errors[0].first, Backup("/Sub"));
    EXPECT_EQ(ReadTestFile(Backup("/Sub")), "a file named like the folder");
    EXPECT_EQ(TreeListing(Backup()), (std::set<std::string>{"Sub", "d.txt"}));
}

TEST_F(ShellCopyFailureTest, FullDiskLeavesThePreviousCopyWhole) {
    WriteTestFile(Source("/big.bin"), std::string(200000, 'n'));
    WriteTestFile(Source("/small.txt"), "fits");
    WriteTestFile(Backup("/big.bin"), "previous copy");
    {
        FileSizeLimit limit(50000);
        ShellCopy(Source("/*.*"), Backup(), true, reporter_);
    }
    ASSERT_EQ(reporter_.errors.size(), 1u);
    EXPECT_EQ(reporter_.errors[0].first, Backup("/big.bin"));
    EXPECT_EQ(ReadTestFile(Backup("/big.bin")), "previous copy");
    EXPECT_EQ(ReadTestFile(Backup("/small.txt")), "fits");
    EXPECT_EQ(TreeListing(Backup()), (std::set<std::string>{"big.bin", "small.txt"}));
}

TEST_F(ShellCopyFailureTest, FullDiskLeavesNoPartFileInANewFolder) {
    WriteTestFile(Source("/Sub/big.bin"), std::string(200000, 'n'));
    WriteTestFile(Source("/Sub/small.txt"), "fits");
    {
        FileSizeLimit limit(50000);
        ShellCopy(Source("/*.*"), Backup(), false, reporter_);
    }
    ASSERT_EQ(reporter_.errors.size(), 1u);
    EXPECT_EQ(reporter_.errors[0].first, Backup("/Sub/big.bin"));
    EXPECT_EQ(TreeListing(Backup()), (std::set<std::string>{"Sub", "Sub/small.txt"}));
}

TEST_F(ShellCopyFailureTest, PipeInTheSourceIsReportedWithoutWaiting) {
    WriteTestFile(Source("/a.txt"), "alpha");
    ASSERT_EQ(::mkfifo(Source("/pipe").c_str(), 0600), 0);
    WriteTestFile(Backup("/pipe"), "previous copy");
    ShellCopy(Source("/*.*"), Backup(), false, reporter_);
    ShellCopy(Source("/pipe"), Backup("/single"), false, reporter_);

    ASSERT_EQ(reporter_.errors.size(), 2u);
    EXPECT_EQ(reporter_.errors[0].first, Source("/pipe"));
    EXPECT_EQ(reporter_.errors[1].first, Source("/pipe"));
    EXPECT_EQ(ReadTestFile(Backup("/pipe")), "previous copy");
    EXPECT_EQ(TreeListing(Backup()), (std::set<std::string>{"a.txt", "pipe"}));
}

TEST_F(ShellCopyFailureTest, TooLongTargetNameIsReported) {
    const std::string longName(260, 'n');
    WriteTestFile(Source("/short"), "x");
    ShellCopy(Source("/short"), Backup("/" + longName), false, reporter_);
    ASSERT_EQ(reporter_.errors.size(), 1u);
    EXPECT_EQ(reporter_.errors[0].first, Backup("/" + longName));
    EXPECT_EQ(TreeListing(Backup()), std::set<std::string>{});
}
