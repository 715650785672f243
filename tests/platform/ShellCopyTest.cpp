#include "platform/ShellCopy.h"

#include "CopyTestSupport.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <filesystem>

namespace fs = std::filesystem;

class ShellCopyTest : public ::testing::Test {
protected:
    std::string Source(const std::string& name = "") const { return home_.path() + "/Data" + name; }
    std::string Backup(const std::string& name = "") const { return home_.path() + "/Backup" + name; }

    void MakeTree() {
        WriteTestFile(Source("/a.txt"), "alpha");
        WriteTestFile(Source("/.profile"), "dot file");
        WriteTestFile(Source("/no_extension"), "plain");
        WriteTestFile(Source("/Sub/b.doc"), "beta");
        WriteTestFile(Source("/Sub/.config/deep/c"), "gamma");
        fs::create_directories(Source("/Empty"));
    }

    TempHome home_;
    RecordingReporter reporter_;
};

TEST_F(ShellCopyTest, PatternCopiesEveryEntryRecursivelyIntoNewFolders) {
    MakeTree();
    ShellCopy(Source("/*.*"), Backup("/x/y"), false, reporter_);
    EXPECT_TRUE(reporter_.errors.empty());
    EXPECT_EQ(TreeListing(Backup("/x/y")), TreeListing(Source()));
    EXPECT_EQ(ReadTestFile(Backup("/x/y/.profile")), "dot file");
    EXPECT_EQ(ReadTestFile(Backup("/x/y/Sub/.config/deep/c")), "gamma");
    EXPECT_TRUE(fs::is_directory(Backup("/x/y/Empty")));
}

TEST_F(ShellCopyTest, PatternSelectsMatchingEntriesOnly) {
    MakeTree();
    WriteTestFile(Source("/z.txt"), "zed");
    ShellCopy(Source("/*.txt"), Backup(), false, reporter_);
    EXPECT_EQ(TreeListing(Backup()), (std::set<std::string>{"a.txt", "z.txt"}));
}

TEST_F(ShellCopyTest, OverwritesWithoutAsking) {
    MakeTree();
    WriteTestFile(Backup("/a.txt"), "an older and longer alpha");
    WriteTestFile(Backup("/Sub/b.doc"), "old beta");
    WriteTestFile(Backup("/Sub/only-in-backup"), "kept");
    ShellCopy(Source("/*.*"), Backup(), false, reporter_);
    EXPECT_TRUE(reporter_.errors.empty());
    EXPECT_EQ(ReadTestFile(Backup("/a.txt")), "alpha");
    EXPECT_EQ(ReadTestFile(Backup("/Sub/b.doc")), "beta");
    EXPECT_EQ(ReadTestFile(Backup("/Sub/only-in-backup")), "kept");
}

TEST_F(ShellCopyTest, KeepsModificationTimesToTheNanosecondAndModes) {
    MakeTree();
    const timespec times[2] = {{1000000000, 5}, {1425200700, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Source("/Sub/b.doc").c_str(), times, 0), 0);
    ASSERT_EQ(::chmod(Source("/Sub/b.doc").c_str(), 0751), 0);
    ASSERT_EQ(::chmod(Source("/a.txt").c_str(), 0400), 0);
    ASSERT_EQ(::chmod(Source("/Sub").c_str(), 0711), 0);
    ShellCopy(Source("/*.*"), Backup(), false, reporter_);
    // Read-only copies are replaced as well.
    ShellCopy(Source("/*.*"), Backup(), false, reporter_);
    EXPECT_TRUE(reporter_.errors.empty());

    const struct stat copy = StatusOf(Backup("/Sub/b.doc"));
    EXPECT_EQ(copy.st_mtim.tv_sec, 1425200700);
    EXPECT_EQ(copy.st_mtim.tv_nsec, 123456789);
    EXPECT_EQ(copy.st_mode & 07777, 0751u);
    EXPECT_EQ(StatusOf(Backup("/a.txt")).st_mode & 07777, 0400u);
    EXPECT_EQ(StatusOf(Backup("/Sub")).st_mode & 07777, 0711u);
    EXPECT_EQ(StatusOf(Backup("/Sub")).st_mtim.tv_sec, StatusOf(Source("/Sub")).st_mtim.tv_sec);
}

TEST_F(ShellCopyTest, FileGoesIntoAnExistingFolderOrBecomesTheTarget) {
    WriteTestFile(Source("/config.ini"), "settings");
    fs::create_directories(Backup());
    ShellCopy(Source("/config.ini"), Backup(), false, reporter_);
    EXPECT_EQ(ReadTestFile(Backup("/config.ini")), "settings");

    ShellCopy(Source("/config.ini"), Backup("/new/folder/renamed.ini"), false, reporter_);
    EXPECT_EQ(ReadTestFile(Backup("/new/folder/renamed.ini")), "settings");
    EXPECT_TRUE(reporter_.errors.empty());
}

TEST_F(ShellCopyTest, FolderGoesIntoAnExistingFolderOrBecomesTheTarget) {
    MakeTree();
    fs::create_directories(Backup());
    ShellCopy(Source("/Sub"), Backup(), false, reporter_);
    EXPECT_EQ(ReadTestFile(Backup("/Sub/b.doc")), "beta");

    ShellCopy(Source("/Sub"), Backup("/Copy"), false, reporter_);
    EXPECT_EQ(ReadTestFile(Backup("/Copy/b.doc")), "beta");
    EXPECT_EQ(ReadTestFile(Backup("/Copy/.config/deep/c")), "gamma");
    EXPECT_TRUE(reporter_.errors.empty());
}

TEST_F(ShellCopyTest, MissingSourceDoesNothingAndReportsNothing) {
    ShellCopy(Source("/missing.txt"), Backup("/x"), true, reporter_);
    ShellCopy(Source("/*.*"), Backup("/y"), true, reporter_);
    fs::create_directories(Source());
    ShellCopy(Source("/*.txt"), Backup("/z"), true, reporter_);
    EXPECT_FALSE(fs::exists(Backup()));
    EXPECT_TRUE(reporter_.errors.empty());
    EXPECT_TRUE(reporter_.progressReports.empty());
}

TEST_F(ShellCopyTest, LinksAreCopiedAsLinksNotFollowed) {
    MakeTree();
    fs::create_directory_symlink(Source("/Sub"), Source("/LinkToSub"));
    fs::create_symlink("a.txt", Source("/link.txt"));
    ShellCopy(Source("/*.*"), Backup(), false, reporter_);
    EXPECT_TRUE(reporter_.errors.empty());
    ASSERT_TRUE(fs::is_symlink(Backup("/LinkToSub")));
    EXPECT_EQ(fs::read_symlink(Backup("/LinkToSub")), Source("/Sub"));
    EXPECT_EQ(fs::read_symlink(Backup("/link.txt")), "a.txt");
    EXPECT_EQ(TreeListing(Backup()), TreeListing(Source()));
}

TEST_F(ShellCopyTest, DestinationInsideTheSourceIsNotCopiedIntoItself) {
    MakeTree();
    ShellCopy(Source("/*.*"), Source("/Sub/Backup"), false, reporter_);
    EXPECT_TRUE(reporter_.errors.empty());
    EXPECT_EQ(ReadTestFile(Source("/Sub/Backup/Sub/b.doc")), "beta");
    EXPECT_FALSE(fs::exists(Source("/Sub/Backup/Sub/Backup")));

    // Onto itself: nothing changes.
    const auto before = TreeListing(Source());
    ShellCopy(Source("/*.*"), Source(), false, reporter_);
    ShellCopy(Source("/Sub"), Source(), false, reporter_);
    EXPECT_TRUE(reporter_.errors.empty());
    EXPECT_EQ(TreeListing(Source()), before);
    EXPECT_EQ(ReadTestFile(Source("/Sub/b.doc")), "beta");
}

TEST_F(ShellCopyTest, ProgressOnlyWhenAskedAndDuringALargeFile) {
    const std::uint64_t size = 40u * 1024 * 1024;
    WriteTestFile(Source("/big.bin"), std::string(size, 'b'));
    WriteTestFile(Source("/small.txt"), "s");

    ShellCopy(Source("/*.*"), Backup("/silent"), false, reporter_);
    EXPECT_TRUE(reporter_.progressReports.empty());

    ShellCopy(Source("/*.*"), Backup("/shown"), true, reporter_);
    EXPECT_EQ(fs::file_size(Backup("/shown/big.bin")), size);
    bool midFile = false;
    std::uint64_t lastDone = 0;
    for (const TransferProgress& report : reporter_.progressReports) {
        if (report.currentFile != Source("/big.bin")) continue;
        EXPECT_EQ(report.fileBytesTotal, size);
        EXPECT_GE(report.fileBytesDone, lastDone);
        lastDone = report.fileBytesDone;
        if (report.fileBytesDone > 0 && report.fileBytesDone < size) midFile = true;
    }
    EXPECT_TRUE(midFile);
    EXPECT_EQ(lastDone, size);
    EXPECT_TRUE(reporter_.errors.empty());
}
