#include "platform/ShellCopy.h"

#include "CopyTestSupport.h"
#include "support/FileSizeLimit.h"
#include "support/TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
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

TEST_F(ShellCopyTest, OutcomeTellsWhatWasReallyCopied) {
    MakeTree();
    fs::create_symlink("a.txt", Source("/link.txt"));
    const CopyOutcome all = ShellCopy(Source("/*.*"), Backup(), false, reporter_);
    EXPECT_EQ(all.filesCopied, 6u) << "five files and one link";
    EXPECT_EQ(all.bytesCopied, 5u + 8u + 5u + 4u + 5u);
    EXPECT_EQ(all.errors, 0u);
    EXPECT_FALSE(all.sourceMissing);

    WriteTestFile(Source("/big.bin"), std::string(200000, 'n'));
    CopyOutcome failed;
    {
        FileSizeLimit limit(50000);
        failed = ShellCopy(Source("/big.bin"), Backup("/big.bin"), false, reporter_);
    }
    EXPECT_EQ(failed.filesCopied, 0u);
    EXPECT_EQ(failed.bytesCopied, 0u);
    EXPECT_EQ(failed.errors, 1u);

    EXPECT_TRUE(ShellCopy(Source("/missing.txt"), Backup("/m"), false, reporter_).sourceMissing);
    EXPECT_TRUE(ShellCopy(Source("/NoFolder/*.*"), Backup("/m"), false, reporter_).sourceMissing);
    fs::create_directories(Source("/Empty"));
    EXPECT_FALSE(ShellCopy(Source("/Empty/*.*"), Backup("/m"), false, reporter_).sourceMissing)
        << "an empty folder is no loss";
    fs::create_symlink(Source("/nowhere"), Source("/dangling"));
    EXPECT_TRUE(ShellCopy(Source("/dangling"), Backup("/d"), false, reporter_).sourceMissing)
        << "a dangling link named as the source has nothing behind it";
}

TEST_F(ShellCopyTest, HeldBackEntriesInsideTheTreeAreNotCopied) {
    MakeTree();
    CopyOptions options;
    std::vector<std::pair<std::string, bool>> asked;
    options.holdsBack = [&](const std::string& path, bool isFolder) {
        asked.emplace_back(path, isFolder);
        return path == Source("/Sub") || path == Source("/a.txt");
    };
    const CopyOutcome outcome = ShellCopy(Source("/*.*"), Backup(), options, reporter_);
    EXPECT_EQ(TreeListing(Backup()), (std::set<std::string>{".profile", "no_extension", "Empty"}));
    EXPECT_EQ(outcome.filesCopied, 2u);
    EXPECT_TRUE(std::find(asked.begin(), asked.end(), std::make_pair(Source("/Sub"), true)) != asked.end());
    EXPECT_TRUE(std::find(asked.begin(), asked.end(), std::make_pair(Source("/a.txt"), false)) !=
                asked.end());
}

// A single file found inside a folder: its link is copied as the link.
TEST_F(ShellCopyTest, SingleLinkIsCopiedAsItselfWhenNotFollowed) {
    WriteTestFile(home_.path() + "/secret", "not to be read through the link");
    fs::create_directories(Source());
    fs::create_symlink(home_.path() + "/secret", Source("/link"));
    CopyOptions options;
    options.followSourceLink = false;
    const CopyOutcome outcome = ShellCopy(Source("/link"), Backup("/copy"), options, reporter_);
    EXPECT_EQ(outcome.filesCopied, 1u);
    ASSERT_TRUE(fs::is_symlink(Backup("/copy")));
    EXPECT_EQ(fs::read_symlink(Backup("/copy")), home_.path() + "/secret");

    options.followSourceLink = true;
    ShellCopy(Source("/link"), Backup("/followed"), options, reporter_);
    EXPECT_FALSE(fs::is_symlink(Backup("/followed")));
    EXPECT_EQ(ReadTestFile(Backup("/followed")), "not to be read through the link");
    EXPECT_TRUE(reporter_.errors.empty());
}

// Temporary files of a killed copy (".<name>.part-<pid>-<n>") are cleared when
// a later copy into the backup meets them; nothing else is touched.
TEST_F(ShellCopyTest, StaleTemporaryFilesInsideTheBackupAreRemoved) {
    MakeTree();
    const pid_t live = ::getppid();
    int gone = 0;
    for (pid_t candidate = 4'000'000; candidate > 0 && gone == 0; candidate -= 997)
        if (::kill(candidate, 0) != 0 && errno == ESRCH) gone = candidate;
    ASSERT_NE(gone, 0);
    const std::string stale = ".a.txt.part-" + std::to_string(gone) + "-3";
    const std::string own = ".b.doc.part-" + std::to_string(::getpid()) + "-0";
    const std::set<std::string> kept = {
        ".a.txt.part-" + std::to_string(live) + "-3",  // another run's
        ".a.txt.part-" + std::to_string(gone) + "-x", "a.txt.part-" + std::to_string(gone) + "-3",
        ".part-" + std::to_string(gone) + "-3", ".a.txt.part-" + std::to_string(gone)};
    WriteTestFile(Backup("/" + stale), "left by a killed run");
    WriteTestFile(Backup("/Sub/" + own), "left by this process");
    for (const std::string& name : kept) WriteTestFile(Backup("/" + name), "not ours to remove");

    EXPECT_TRUE(IsStaleTemporaryName(stale));
    EXPECT_TRUE(IsStaleTemporaryName(own));
    for (const std::string& name : kept) EXPECT_FALSE(IsStaleTemporaryName(name)) << name;

    // Outside a backup target nothing is swept.
    ShellCopy(Source("/*.*"), Backup(), false, reporter_);
    EXPECT_TRUE(fs::exists(Backup("/" + stale)));

    BackupTarget target(Backup());
    CopyOptions options;
    options.target = &target;
    ShellCopy(Source("/*.*"), Backup(), options, reporter_);
    EXPECT_FALSE(fs::exists(Backup("/" + stale)));
    EXPECT_FALSE(fs::exists(Backup("/Sub/" + own)));
    for (const std::string& name : kept) EXPECT_TRUE(fs::exists(Backup("/" + name))) << name;
    EXPECT_TRUE(reporter_.errors.empty());
}

// Below a backup target's root nothing is reached through a link: a link
// where a folder of the backup must be is reported and left alone.
TEST_F(ShellCopyTest, LinkInTheBackupIsNeverWrittenThrough) {
    MakeTree();
    const std::string outside = home_.path() + "/Outside";
    fs::create_directories(outside);
    fs::create_directories(Backup());
    fs::create_directory_symlink(outside, Backup("/copy"));
    fs::create_directories(Backup("/whole"));
    fs::create_directory_symlink(outside, Backup("/whole/Sub"));

    BackupTarget target(Backup());
    ASSERT_TRUE(target.Usable());
    CopyOptions options;
    options.target = &target;
    ShellCopy(Source("/a.txt"), Backup("/copy/deeper/a.txt"), options, reporter_);
    ShellCopy(Source("/*.*"), Backup("/copy"), options, reporter_);
    ShellCopy(Source("/*.*"), Backup("/whole"), options, reporter_);

    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_TRUE(fs::is_symlink(Backup("/copy")));
    EXPECT_TRUE(fs::is_symlink(Backup("/whole/Sub")));
    EXPECT_EQ(ReadTestFile(Backup("/whole/a.txt")), "alpha");
    ASSERT_EQ(reporter_.errors.size(), 3u);
    EXPECT_THAT(reporter_.errors[0].second, ::testing::HasSubstr("link"));
    EXPECT_EQ(reporter_.errors[2].first, Backup("/whole/Sub"));
    EXPECT_THAT(reporter_.errors[2].second, ::testing::HasSubstr("link"));

    std::string reason;
    EXPECT_LT(target.OpenFolder(home_.path(), false, reason), 0) << "outside the root";

    BackupTarget everything("/");
    ASSERT_TRUE(everything.Holds(home_.path()));
    const int folder = everything.OpenFolder(home_.path(), false, reason);
    EXPECT_GE(folder, 0) << reason;
    ::close(folder);
}

// A caller that holds the copy folder open hands it over instead of having it
// walked to again; the copy is the same, and the folder still counts as
// written into. A copy said to be there (or wrongly so) is replaced whole.
TEST_F(ShellCopyTest, SingleFileIntoACopyFolderTheCallerHoldsOpen) {
    MakeTree();
    WriteTestFile(Backup("/Sub/b.doc"), "an older and longer beta");
    ::chmod(Source("/Sub/b.doc").c_str(), 0640);
    BackupTarget target(Backup());
    std::string reason;
    const int held = target.OpenFolder(Backup("/Sub"), false, reason);
    ASSERT_GE(held, 0) << reason;
    EXPECT_TRUE(target.TakeTouchedFolders().empty());

    CopyOptions options;
    options.target = &target;
    options.destinationFolder = held;
    options.replacesCopy = true;
    EXPECT_EQ(ShellCopy(Source("/Sub/b.doc"), Backup("/Sub/b.doc"), options, reporter_).filesCopied, 1u);
    EXPECT_EQ(ShellCopy(Source("/a.txt"), Backup("/Sub/a.txt"), options, reporter_).filesCopied, 1u);
    ::close(held);

    EXPECT_TRUE(reporter_.errors.empty());
    EXPECT_EQ(ReadTestFile(Backup("/Sub/b.doc")), "beta");
    EXPECT_EQ(ReadTestFile(Backup("/Sub/a.txt")), "alpha");
    EXPECT_EQ(TreeListing(Backup("/Sub")), (std::set<std::string>{"a.txt", "b.doc"}));
    struct stat copy {};
    ASSERT_EQ(::stat(Backup("/Sub/b.doc").c_str(), &copy), 0);
    EXPECT_EQ(copy.st_mode & 07777, 0640u);
    EXPECT_EQ(target.TakeTouchedFolders(), std::vector<std::string>{Backup("/Sub")});
}
