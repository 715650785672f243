#include "engine/CopyOperation.h"

#include "storage/HistoryLog.h"
#include "support/RecordingReporter.h"
#include "support/RecordingWindow.h"
#include "support/TempHome.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <climits>

#include <algorithm>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

const std::string kHistoryHeader =
    "Tarnwick Backup History File\r\n=============================\r\n\r\n\r\n";

class CopyOperationTest : public ::testing::Test {
protected:
    CopyOperationTest() : texts(BinFolder()) {
        setup.optionFlags = "000000000000000";
        fs::create_directories(home.SettingsFolder());
    }

    std::string Path(const std::string& relative) const { return home.path() + "/" + relative; }
    std::string LogPath() const { return HistoryLogPath(home.SettingsFolder(), ""); }
    std::string Text(TextId id) const { return texts.GetText(id); }

    TempHome home;
    BackupSetup setup;
    RunState run;
    RecordingWindow window;
    CTranslation texts;
    RecordingReporter reporter;
    BackupContext context{setup, run, window, texts, reporter, home.SettingsFolder(), BinFolder(), ""};
};

TEST(CollapseDoubledSeparators, PairsBecomeSingleLeftToRight) {
    EXPECT_EQ(CollapseDoubledSeparators("//home//ann//Data//*.*"), "/home/ann/Data/*.*");
    EXPECT_EQ(CollapseDoubledSeparators("/a///b////c"), "/a//b//c");
    EXPECT_EQ(CollapseDoubledSeparators("/a/b"), "/a/b");
}

TEST(IsExcluded, FileExceptionsMatchExactlyAndFolderExceptionsByPrefix) {
    const std::vector<std::string> folder = {"/data/..."};
    EXPECT_TRUE(IsExcluded(folder, "/data/*.*"));
    EXPECT_TRUE(IsExcluded(folder, "/data/sub/a.txt"));
    EXPECT_FALSE(IsExcluded(folder, "/data/")) << "equal length is not inside";
    EXPECT_FALSE(IsExcluded(folder, "/data"));
    EXPECT_FALSE(IsExcluded(folder, "/database/a.txt"));
    EXPECT_FALSE(IsExcluded({"/data/Sub/..."}, "/data/*.*"));
    EXPECT_FALSE(IsExcluded({"/DATA/x.txt"}, "/data/x.txt"));
    EXPECT_FALSE(IsExcluded({"/Data/..."}, "/data/x.txt"));
    EXPECT_TRUE(IsExcluded({"/data/x.txt"}, "/data/x.txt"));
    EXPECT_FALSE(IsExcluded({"/data/x.txt"}, "/data/x.txt.bak"));
    EXPECT_TRUE(IsExcluded({"/a/b", "/other/...", "/data/x.txt"}, "/data/x.txt"))
        << "every exception is tried";
    EXPECT_FALSE(IsExcluded({}, "/data/x.txt"));
}

TEST(IsFolderExcluded, OnlyFolderExceptionsAtOrAboveTheFolderHoldItBack) {
    const std::vector<std::string> exceptions = {"/data/sub/...", "/data/file"};
    EXPECT_TRUE(IsFolderExcluded(exceptions, "/data/sub"));
    EXPECT_TRUE(IsFolderExcluded(exceptions, "/data/sub/deeper"));
    EXPECT_FALSE(IsFolderExcluded(exceptions, "/data/subway")) << "a name that merely starts the same";
    EXPECT_FALSE(IsFolderExcluded(exceptions, "/data"));
    EXPECT_FALSE(IsFolderExcluded(exceptions, "/data/file")) << "a file exception names a file";
}

TEST_F(CopyOperationTest, WholeFolderPatternHoldsBackExactlyWhatTheExceptionsName) {
    WriteTestFile(Path("src/a.txt"), "a");
    WriteTestFile(Path("src/a.txt.bak"), "kept");
    WriteTestFile(Path("src/Sub/b.txt"), "b");
    WriteTestFile(Path("src/Subway/c.txt"), "kept");
    WriteTestFile(Path("src/Keep/Sub/d.txt"), "kept");
    std::string doubled;  // separators doubled as the run passes them
    for (char c : Path("src/*.*")) doubled += c == '/' ? std::string("//") : std::string(1, c);

    run.exceptions = {Path("src/Sub/..."), Path("src/a.txt")};
    window.statusLine = "countdown";
    const CopyResult result = CopyItem(context, doubled, Path("dest/one"), {});
    EXPECT_EQ(result.status, CopyStatus::Copied);
    EXPECT_EQ(result.outcome.filesCopied, 3u);
    EXPECT_EQ(result.outcome.bytesCopied, 12u);
    EXPECT_FALSE(fs::exists(Path("dest/one/Sub"))) << "a folder exception holds the folder back";
    EXPECT_FALSE(fs::exists(Path("dest/one/a.txt"))) << "a file exception holds the file back";
    EXPECT_EQ(ReadTestFile(Path("dest/one/a.txt.bak")), "kept");
    EXPECT_EQ(ReadTestFile(Path("dest/one/Subway/c.txt")), "kept");
    EXPECT_EQ(ReadTestFile(Path("dest/one/Keep/Sub/d.txt")), "kept");
    EXPECT_EQ(run.copiedCount, 0) << "counting is the caller's";
    EXPECT_EQ(window.statusLine, "countdown") << "the status line is put back";
    ASSERT_FALSE(window.statusHistory.empty());
    EXPECT_EQ(window.statusHistory.front(), Text(TextId::CopyingPrefix) + " " + Path("src/*.*"));
    EXPECT_GE(window.pumpCount, 2);

    run.exceptions = {Path("src/...")};
    EXPECT_EQ(CopyItem(context, doubled, Path("dest/two"), {}).status, CopyStatus::Excluded);
    EXPECT_FALSE(fs::exists(Path("dest/two")));
    EXPECT_TRUE(reporter.errors.empty());

    run.exceptions.clear();
    const CopyResult missing = CopyItem(context, Path("gone/*.*"), Path("dest/three"), {});
    EXPECT_EQ(missing.status, CopyStatus::Missing);
    EXPECT_FALSE(fs::exists(Path("dest/three")));
}

TEST_F(CopyOperationTest, CancelledRunCopiesNothingAndCountsNothing) {
    WriteTestFile(Path("src/a.txt"), "a");
    run.cancelRequested = true;
    EXPECT_EQ(CopyItem(context, Path("src/a.txt"), Path("dest/a.txt"), {}).status, CopyStatus::Cancelled);
    EXPECT_FALSE(fs::exists(Path("dest/a.txt")));
    EXPECT_EQ(run.copiedCount, 0);
    EXPECT_EQ(window.pumpCount, 0);
}

TEST_F(CopyOperationTest, ProgressTextShowsTheLastEightyCharactersOfLongPaths) {
    const std::string seventyNine = "/" + std::string(78, 'p');
    ShowProgressText(context, seventyNine, ProgressMode::Copying);
    EXPECT_EQ(window.statusLine, Text(TextId::CopyingPrefix) + " " + seventyNine);
    const std::string eighty = seventyNine + "q";
    ShowProgressText(context, eighty, ProgressMode::Copying);
    EXPECT_EQ(window.statusLine, Text(TextId::CopyingPrefix) + " ..." + eighty);
    const std::string longer = "/head" + eighty;
    ShowProgressText(context, longer, ProgressMode::Copying);
    EXPECT_EQ(window.statusLine, Text(TextId::CopyingPrefix) + " ..." + eighty);
    // Characters, not bytes: 80 two-byte characters are shown whole.
    std::string accented;
    for (int i = 0; i < 81; ++i) accented += "\xC3\xA9";
    ShowProgressText(context, accented, ProgressMode::Copying);
    EXPECT_EQ(window.statusLine, Text(TextId::CopyingPrefix) + " ..." + accented.substr(2));
    EXPECT_TRUE(run.countdownText.empty()) << "copying progress is not kept for the next refresh";
}

class ChangedFileCopyTest : public CopyOperationTest {
protected:
    void SetUp() override {
        WriteTestFile(Path("src/f.txt"), "new content");
        SetModificationTime(Path("src/f.txt"), 2024, 3, 7, 10, 15, 59);
        WriteTestFile(Path("dest/f.txt"), "old");
    }
    void CopyF() { CopyIfChanged(context, Path("src/f.txt"), Path("dest/f.txt")); }
};

TEST_F(ChangedFileCopyTest, SameMinuteCountsAsCurrent) {
    SetModificationTime(Path("dest/f.txt"), 2024, 3, 7, 10, 15, 0);
    CopyF();
    EXPECT_EQ(ReadTestFile(Path("dest/f.txt")), "old");
    EXPECT_EQ(run.copiedCount, 0);
    EXPECT_EQ(run.byteTotal, 0u);
}

TEST_F(ChangedFileCopyTest, NextMinuteDiffersEitherWay) {
    SetModificationTime(Path("dest/f.txt"), 2024, 3, 7, 10, 16, 0);  // the copy is newer
    CopyF();
    EXPECT_EQ(ReadTestFile(Path("dest/f.txt")), "new content");
    EXPECT_EQ(run.copiedCount, 1);
    EXPECT_EQ(run.byteTotal, 11u);

    SetModificationTime(Path("src/f.txt"), 2025, 3, 7, 10, 15, 59);  // a year later, same clock minute
    CopyF();
    EXPECT_EQ(run.copiedCount, 2);
}

TEST_F(ChangedFileCopyTest, MissingCopyAlwaysDiffersAndIsLoggedWhenAsked) {
    setup.optionFlags[4] = '1';
    WriteHistoryHeader(LogPath());
    CopyIfChanged(context, Path("src/f.txt"), Path("dest/sub/f.txt"));
    EXPECT_EQ(ReadTestFile(Path("dest/sub/f.txt")), "new content");
    EXPECT_EQ(run.copiedCount, 1);
    EXPECT_EQ(ReadTestFile(LogPath()),
              kHistoryHeader + Text(TextId::LogCopiedFile) + " " + Path("dest/sub/f.txt") + "\r\n");
}

TEST_F(ChangedFileCopyTest, MissingSourceIsReportedAndExcludedSourceCountsNothing) {
    setup.optionFlags[4] = '1';
    CopyIfChanged(context, Path("src/gone.txt"), Path("dest/gone.txt"));
    fs::create_symlink(Path("src/nowhere"), Path("src/dangling"));
    CopyIfChanged(context, Path("src/dangling"), Path("dest/dangling"));
    ASSERT_EQ(reporter.errors.size(), 2u);
    EXPECT_EQ(reporter.errors[0].first, Path("src/gone.txt"));
    EXPECT_EQ(reporter.errors[1].first, Path("src/dangling")) << "a file entry's link is followed";
    run.exceptions = {Path("src/...")};
    CopyIfChanged(context, Path("src/f.txt"), Path("dest/new.txt"));
    EXPECT_FALSE(fs::exists(Path("dest/new.txt")));
    EXPECT_EQ(reporter.errors.size(), 2u);
    EXPECT_EQ(run.copiedCount, 0);
    EXPECT_EQ(run.byteTotal, 0u);
    EXPECT_FALSE(fs::exists(LogPath())) << "nothing copied, nothing logged";
}

TEST_F(ChangedFileCopyTest, FailedCopyCountsNothingAndIsNotLogged) {
    setup.optionFlags[4] = '1';
    WriteHistoryHeader(LogPath());
    fs::create_directories(Path("dest/g.txt/inside"));  // a folder where the copy must go
    BackupTarget target(Path("dest"));
    CopyIfChanged(context, Path("src/f.txt"), Path("dest/g.txt"), &target);
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_EQ(reporter.errors[0].first, Path("dest/g.txt"));
    EXPECT_TRUE(fs::is_empty(Path("dest/g.txt/inside")));
    EXPECT_EQ(run.copiedCount, 0);
    EXPECT_EQ(run.byteTotal, 0u);
    EXPECT_EQ(ReadTestFile(LogPath()), kHistoryHeader);
}

// Inside a folder a link is backed up as itself: compared by its text and
// time, rewritten when either changed, never looked through.
TEST_F(ChangedFileCopyTest, FoundLinksAreComparedAndCopiedAsLinks) {
    WriteTestFile(Path("secret.txt"), "never copied");
    fs::create_symlink(Path("secret.txt"), Path("src/link"));
    RecentFolders folders;
    CopyIfChanged(context, Path("src/link"), Path("dest/link"), folders);
    ASSERT_TRUE(fs::is_symlink(Path("dest/link")));
    EXPECT_EQ(fs::read_symlink(Path("dest/link")), Path("secret.txt"));
    EXPECT_EQ(run.copiedCount, 1);
    EXPECT_EQ(run.byteTotal, 0u);

    CopyIfChanged(context, Path("src/link"), Path("dest/link"), folders);
    EXPECT_EQ(run.copiedCount, 1) << "an unchanged link is current";

    // Same time, another target: copied again.
    struct stat before {};
    ASSERT_EQ(::lstat(Path("src/link").c_str(), &before), 0);
    fs::remove(Path("src/link"));
    fs::create_symlink("f.txt", Path("src/link"));
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, Path("src/link").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    CopyIfChanged(context, Path("src/link"), Path("dest/link"), folders);
    EXPECT_EQ(fs::read_symlink(Path("dest/link")), "f.txt");
    EXPECT_EQ(run.copiedCount, 2);

    // A regular copy where the link now is differs in kind.
    fs::remove(Path("dest/link"));
    fs::copy_file(Path("src/f.txt"), Path("dest/link"));
    ASSERT_EQ(::utimensat(AT_FDCWD, Path("dest/link").c_str(), times, 0), 0);
    CopyIfChanged(context, Path("src/link"), Path("dest/link"), folders);
    EXPECT_TRUE(fs::is_symlink(Path("dest/link")));
    EXPECT_EQ(run.copiedCount, 3);
    EXPECT_TRUE(reporter.errors.empty());
}

TEST_F(ChangedFileCopyTest, UnwritableLogIsRecordedAsAFailureAndTheCopyStands) {
    setup.optionFlags[4] = '1';
    fs::create_directories(LogPath());  // a folder where the log must be
    CopyIfChanged(context, Path("src/f.txt"), Path("dest/g.txt"));
    EXPECT_EQ(ReadTestFile(Path("dest/g.txt")), "new content");
    EXPECT_EQ(run.copiedCount, 1);
    ASSERT_EQ(run.failures.size(), 1u);
    EXPECT_NE(run.failures[0].find(LogPath()), std::string::npos);
}

TEST_F(ChangedFileCopyTest, NameWithWildcardCharactersIsComparedAsItself) {
    WriteTestFile(Path("src/a*b?.txt"), "star");
    SetModificationTime(Path("src/a*b?.txt"), 2024, 3, 7, 9, 0, 0);
    WriteTestFile(Path("dest/a*b?.txt"), "star");
    SetModificationTime(Path("dest/a*b?.txt"), 2024, 3, 7, 9, 0, 30);
    WriteTestFile(Path("dest/aXbY.txt"), "decoy");  // a wildcard match would find this one
    CopyIfChanged(context, Path("src/a*b?.txt"), Path("dest/a*b?.txt"));
    EXPECT_EQ(run.copiedCount, 0);
}

// A name holding "*" or "?" that exists stands for that file, not for a pattern.
TEST_F(ChangedFileCopyTest, NameWithWildcardCharactersIsCopiedAsItself) {
    WriteTestFile(Path("src/a*b?.txt"), "star");
    WriteTestFile(Path("src/aXbY.txt"), "decoy");
    CopyIfChanged(context, Path("src/a*b?.txt"), Path("dest/a*b?.txt"));
    EXPECT_EQ(ReadTestFile(Path("dest/a*b?.txt")), "star");
    EXPECT_FALSE(fs::exists(Path("dest/aXbY.txt")));
}

// One set of folder handles over several checks, as the run's loop uses it.
class RecentFoldersTest : public ChangedFileCopyTest {
protected:
    void Check(const std::string& name) {
        CopyIfChanged(context, Path("src/" + name), Path("dest/" + name), folders);
    }
    RecentFolders folders;
};

TEST_F(RecentFoldersTest, FoldersAreLookedUpAfreshAfterEachCopy) {
    Check("f.txt");
    ASSERT_EQ(run.copiedCount, 1);

    // A source folder replaced after a copy: its new files are found.
    fs::rename(Path("src"), Path("src-old"));
    WriteTestFile(Path("src/g.txt"), "fresh");
    Check("g.txt");
    EXPECT_EQ(ReadTestFile(Path("dest/g.txt")), "fresh");
    EXPECT_EQ(run.copiedCount, 2);

    // A destination folder replaced after a copy: its current copies count.
    fs::rename(Path("dest"), Path("dest-old"));
    WriteTestFile(Path("src/h.txt"), "same");
    WriteTestFile(Path("dest/h.txt"), "same");
    SetModificationTime(Path("src/h.txt"), 2024, 3, 7, 11, 0, 10);
    SetModificationTime(Path("dest/h.txt"), 2024, 3, 7, 11, 0, 50);
    Check("h.txt");
    EXPECT_EQ(run.copiedCount, 2);
}

TEST_F(RecentFoldersTest, MissingDestinationFolderIsNotRemembered) {
    WriteTestFile(Path("src/new/a.txt"), "a");
    WriteTestFile(Path("src/new/b.txt"), "b");
    SetModificationTime(Path("src/new/b.txt"), 2024, 3, 7, 12, 0, 0);
    run.exceptions = {Path("src/new/a.txt")};
    Check("new/a.txt");  // differs, held back: no copy makes dest/new
    EXPECT_FALSE(fs::exists(Path("dest/new")));

    WriteTestFile(Path("dest/new/b.txt"), "b");  // the folder appears by other means
    SetModificationTime(Path("dest/new/b.txt"), 2024, 3, 7, 12, 0, 30);
    Check("new/b.txt");
    EXPECT_EQ(run.copiedCount, 0);
}

// A path too long for a plain stat stays unreadable, although its folder handle
// could reach the file: the file is not backed up, and that is reported.
TEST_F(RecentFoldersTest, OverlongSourcePathCountsAsMissing) {
    const std::string part(200, 'd');
    std::string relative = "src";
    int folder = ::open(Path("src").c_str(), O_PATH | O_DIRECTORY);
    while (Path(relative).size() < PATH_MAX - 100) {
        ASSERT_EQ(::mkdirat(folder, part.c_str(), 0755), 0);
        const int inner = ::openat(folder, part.c_str(), O_PATH | O_DIRECTORY);
        ::close(folder);
        folder = inner;
        relative += "/" + part;
    }
    const std::string name(150, 'n');
    const int file = ::openat(folder, name.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(file, 0);
    ::close(file);
    ::close(folder);

    const std::string source = Path(relative + "/" + name);
    ASSERT_GE(source.size(), static_cast<std::size_t>(PATH_MAX));
    CopyIfChanged(context, source, Path("dest/long.txt"), folders);
    EXPECT_FALSE(fs::exists(Path("dest/long.txt")));
    EXPECT_EQ(run.copiedCount, 0);
    ASSERT_EQ(reporter.errors.size(), 1u) << "a file that cannot be looked at is not backed up";
    EXPECT_EQ(reporter.errors[0].first, source);
}

class FolderWalkTest : public CopyOperationTest {};

TEST_F(FolderWalkTest, FindsEveryFileAndLinkButDotAndDotDotWithoutFollowingLinks) {
    const std::vector<std::string> files = {
        "plain.txt",        "ends in dot.", "two dots..",    "...",
        ".hidden",          "sub/x y.txt",  "sub/st*r?.txt", "sub/deep/caf\xC3\xA9 \x80\xFF.bin",
        "dot.dir./inside.", "empty/../keep"};
    for (const std::string& file : files) WriteTestFile(Path("tree/" + file), file);
    fs::create_directories(Path("tree/empty"));
    fs::create_symlink(Path("tree"), Path("tree/loop"));  // would never end if followed
    fs::create_symlink(Path("tree/plain.txt"), Path("tree/link to file"));
    fs::create_symlink(Path("tree/nowhere"), Path("tree/dangling"));

    WalkFolder(context, Path("tree") + "/...");
    std::set<std::string> expected;
    for (const std::string& file : files)
        if (file != "empty/../keep") expected.insert(Path("tree/" + file));
    expected.insert(Path("tree/keep"));
    // Links of every kind are found as themselves.
    expected.insert(Path("tree/link to file"));
    expected.insert(Path("tree/loop"));
    expected.insert(Path("tree/dangling"));
    EXPECT_EQ(std::set<std::string>(run.foundFiles.begin(), run.foundFiles.end()), expected);
    EXPECT_EQ(run.foundFiles.size(), expected.size());
    EXPECT_TRUE(reporter.errors.empty());
    // One pump per directory entry: 12 in tree, 3 in sub, 1 each in deep and dot.dir.
    EXPECT_EQ(window.pumpCount, 17);
    EXPECT_GE(window.refreshCount, 1);
}

TEST_F(FolderWalkTest, UnreadableOrMissingFolderContributesNothingAndIsReported) {
    WriteTestFile(Path("file"), "not a folder");
    WalkFolder(context, Path("file") + "/...");
    WalkFolder(context, Path("missing") + "/...");
    WalkFolder(context, "abc");
    EXPECT_TRUE(run.foundFiles.empty());
    ASSERT_EQ(reporter.errors.size(), 2u);
    EXPECT_EQ(reporter.errors[0].first, Path("file"));
    EXPECT_EQ(reporter.errors[1].first, Path("missing"));
}

TEST_F(FolderWalkTest, PipesSocketsAndUnreadableSubfoldersAreReported) {
    WriteTestFile(Path("tree/a.txt"), "a");
    WriteTestFile(Path("tree/closed/b.txt"), "b");
    ASSERT_EQ(::mkfifo(Path("tree/pipe").c_str(), 0600), 0);
    ::chmod(home.path().c_str(), 0755);
    GiveTreeTo(Path("tree"), NobodyAccount());
    ::chmod(Path("tree/closed").c_str(), 0);
    if (!CanDropPrivileges()) GTEST_SKIP() << "needs root to switch accounts";
    // The child reports what it found and what it reported through its exit code.
    const int result = RunAsUnprivileged([&] {
        WalkFolder(context, Path("tree") + "/...");
        std::set<std::string> reported;
        for (const auto& error : reporter.errors) reported.insert(error.first);
        const bool found = run.foundFiles == std::vector<std::string>{Path("tree/a.txt")};
        const bool told = reported == std::set<std::string>{Path("tree/pipe"), Path("tree/closed")};
        return (found ? 0 : 1) | (told ? 0 : 2);
    });
    EXPECT_EQ(result, 0);
}

TEST_F(FolderWalkTest, CountingStatusAtEveryHundredthFile) {
    for (int i = 0; i < 250; ++i) WriteTestFile(Path("many/f" + std::to_string(i)), "");
    window.onRefresh = [this] { window.statusLine = run.countdownText; };
    WalkFolder(context, Path("many") + "/...");
    EXPECT_EQ(run.foundFiles.size(), 250u);
    const std::string prefix = Text(TextId::FilesFoundPrefix) + " ";
    EXPECT_EQ(window.statusHistory, (std::vector<std::string>{prefix + "100", prefix + "200"}));
    EXPECT_EQ(run.countdownText, prefix + "200");
    EXPECT_EQ(window.statusLine, prefix + "200") << "the refresh after the walk keeps the count";
}

TEST_F(FolderWalkTest, FoundFilesAppendToWhatIsThere) {
    WriteTestFile(Path("one/a"), "");
    run.foundFiles = {"/earlier"};
    WalkFolder(context, Path("one") + "/...");
    EXPECT_EQ(run.foundFiles, (std::vector<std::string>{"/earlier", Path("one/a")}));
}

// The incremental copy of a whole folder entry, folder by folder.
class ChangedTreeCopyTest : public CopyOperationTest {
protected:
    static std::string MadeFolder(const std::string& path) {
        fs::create_directories(path);
        return path;
    }
    void CopyTree() { CopyChangedFiles(context, Path("src") + "/...", Path("dest/copy"), target); }

    BackupTarget target{MadeFolder(Path("dest"))};
};

TEST_F(ChangedTreeCopyTest, DeepTreeIsComparedByMinuteAndLinksAsLinks) {
    const std::string deep = "a b/caf\xC3\xA9 \xE6\x9D\xB1/c/d/e/f";
    for (const std::string& folder : {std::string("."), deep, std::string("a b")})
        for (const std::string name : {"one.txt", ".hidden", "st*r?.txt"}) {
            WriteTestFile(Path("src/" + folder + "/" + name), folder + name);
            SetModificationTime(Path("src/" + folder + "/" + name), 2024, 3, 7, 10, 15, 59);
        }
    fs::create_symlink(Path("secret.txt"), Path("src/" + deep + "/link"));
    CopyTree();
    EXPECT_EQ(run.scannedCount, 10);
    EXPECT_EQ(run.copiedCount, 10);
    EXPECT_EQ(ReadTestFile(Path("dest/copy/" + deep + "/st*r?.txt")), deep + "st*r?.txt");
    EXPECT_EQ(fs::read_symlink(Path("dest/copy/" + deep + "/link")), Path("secret.txt"));
    EXPECT_TRUE(run.foundFiles.empty()) << "nothing of the walk is kept";

    // Same minute: current. Another minute, another link text, a missing copy: copied.
    SetModificationTime(Path("dest/copy/a b/one.txt"), 2024, 3, 7, 10, 15, 0);
    SetModificationTime(Path("src/" + deep + "/one.txt"), 2024, 3, 7, 10, 16, 0);
    fs::remove(Path("src/" + deep + "/link"));
    fs::create_symlink("one.txt", Path("src/" + deep + "/link"));
    fs::remove(Path("dest/copy/.hidden"));
    run.copiedCount = 0;
    CopyTree();
    EXPECT_EQ(run.scannedCount, 20);
    EXPECT_EQ(run.copiedCount, 3);
    EXPECT_EQ(fs::read_symlink(Path("dest/copy/" + deep + "/link")), "one.txt");
    EXPECT_TRUE(fs::exists(Path("dest/copy/.hidden")));
    EXPECT_TRUE(reporter.errors.empty());
}

// Only the files of the folder at hand are held; the count goes on across folders.
TEST_F(ChangedTreeCopyTest, HoldsOneFolderAtATimeAndCountsEveryHundredthFile) {
    for (int folder = 0; folder < 3; ++folder)
        for (int i = 0; i < 70; ++i)
            WriteTestFile(Path("src/f" + std::to_string(folder) + "/" + std::to_string(i)), "");
    std::size_t mostHeld = 0;
    window.onPump = [&] { mostHeld = std::max(mostHeld, run.foundFiles.size()); };
    CopyTree();
    ASSERT_EQ(run.copiedCount, 210);
    window.pumpCount = 0;
    window.statusHistory.clear();
    run.scannedCount = 0;
    CopyTree();
    EXPECT_EQ(mostHeld, 70u);
    EXPECT_EQ(run.scannedCount, 210);
    const std::string prefix = Text(TextId::FilesFoundPrefix) + " ";
    std::vector<std::string> counts;
    for (const std::string& line : window.statusHistory)
        if (line.starts_with(prefix)) counts.push_back(line);
    EXPECT_EQ(counts, (std::vector<std::string>{prefix + "100", prefix + "200"}));
    EXPECT_EQ(run.countdownText, prefix + "200");
    EXPECT_EQ(window.pumpCount, 213)
        << "one pump per entry of every folder, and none more while nothing is copied";
}

// Pipes, files gone since the listing and links where a copy folder must be
// are failures; what an exception names is held back but scanned.
TEST_F(ChangedTreeCopyTest, FailuresAreReportedAndExceptionsHoldBackWhatTheyName) {
    WriteTestFile(Path("src/keep.txt"), "keep");
    WriteTestFile(Path("src/gone.txt"), "gone");
    WriteTestFile(Path("src/skip/x.txt"), "x");
    WriteTestFile(Path("src/sub/y.txt"), "y");
    WriteTestFile(Path("src/sub/held.txt"), "held");
    ASSERT_EQ(::mkfifo(Path("src/pipe").c_str(), 0600), 0);
    WriteTestFile(Path("outside/y.txt"), "outside");
    fs::create_directories(Path("dest/copy"));
    fs::create_symlink(Path("outside"), Path("dest/copy/sub"));
    run.exceptions = {Path("src/skip/..."), Path("src/sub/held.txt")};
    window.onPump = [&] {
        if (std::find(run.foundFiles.begin(), run.foundFiles.end(), Path("src/gone.txt")) !=
            run.foundFiles.end())
            fs::remove(Path("src/gone.txt"));
    };
    CopyTree();
    EXPECT_EQ(run.scannedCount, 5);
    EXPECT_EQ(run.copiedCount, 1);
    EXPECT_EQ(ReadTestFile(Path("dest/copy/keep.txt")), "keep");
    EXPECT_FALSE(fs::exists(Path("dest/copy/skip")));
    EXPECT_EQ(ReadTestFile(Path("outside/y.txt")), "outside") << "never written through the link";
    EXPECT_FALSE(fs::exists(Path("outside/held.txt")));
    std::set<std::string> reported;
    for (const auto& error : reporter.errors) reported.insert(error.first);
    EXPECT_TRUE(reported.count(Path("src/pipe")));
    EXPECT_TRUE(reported.count(Path("src/gone.txt")));
    EXPECT_EQ(reporter.errors.size(), 3u) << "and the link in the way of sub/y.txt";
}

// A folder of more files than one batch of lookups: each file is judged by
// its own copy's status, whichever batch and thread read it.
TEST_F(ChangedTreeCopyTest, LargeFolderIsJudgedFileByFileAcrossBatches) {
    constexpr int kFiles = 1300;
    const auto name = [](int i) { return "big/" + std::to_string(i) + ".txt"; };
    for (int i = 0; i < kFiles; ++i) {
        WriteTestFile(Path("src/" + name(i)), "old " + std::to_string(i));
        SetModificationTime(Path("src/" + name(i)), 2024, 3, 7, 10, 15, 0);
    }
    WriteTestFile(Path("src/few/a.txt"), "a");
    CopyTree();
    ASSERT_EQ(run.copiedCount, kFiles + 1);

    std::set<int> differing;
    for (int i = 0; i < kFiles; i += 97) {
        WriteTestFile(Path("src/" + name(i)), "new " + std::to_string(i));
        SetModificationTime(Path("src/" + name(i)), 2024, 3, 7, 10, 16, 0);
        differing.insert(i);
    }
    for (int i = 5; i < kFiles; i += 131) {
        fs::remove(Path("dest/copy/" + name(i)));
        differing.insert(i);
    }
    fs::remove_all(Path("dest/copy/few"));
    run.copiedCount = run.scannedCount = 0;
    CopyTree();
    EXPECT_EQ(run.scannedCount, kFiles + 1);
    EXPECT_EQ(run.copiedCount, static_cast<int>(differing.size()) + 1);
    for (int i = 0; i < kFiles; ++i)
        ASSERT_EQ(ReadTestFile(Path("dest/copy/" + name(i))), ReadTestFile(Path("src/" + name(i)))) << i;
    EXPECT_EQ(ReadTestFile(Path("dest/copy/few/a.txt")), "a");
    EXPECT_TRUE(reporter.errors.empty());
}

// Folders the copies made or wrote into take their source folder's mode and
// times once everything below them is in, the way a run leaves them.
TEST_F(ChangedTreeCopyTest, FoldersWrittenIntoKeepTheirSourcesModeAndTimes) {
    const std::string deep = "a/b c/d\xC3\xA9/e";
    WriteTestFile(Path("src/" + deep + "/one.txt"), "one");
    WriteTestFile(Path("src/a/top.txt"), "top");
    const std::vector<std::string> folders = {"/" + deep, "/a/b c/d\xC3\xA9", "/a/b c", "/a", ""};
    for (const std::string& folder : folders) SetModificationTime(Path("src" + folder), 2023, 5, 6, 7, 8, 0);
    ASSERT_EQ(::chmod(Path("src/a/b c").c_str(), 0750), 0);
    const auto expectSameFolders = [&](const char* when) {
        for (const std::string& relative : folders) {
            struct stat source {
            }, copy{};
            ASSERT_EQ(::stat(Path("src" + relative).c_str(), &source), 0);
            ASSERT_EQ(::stat(Path("dest/copy" + relative).c_str(), &copy), 0);
            EXPECT_EQ(copy.st_mtim.tv_sec, source.st_mtim.tv_sec) << when << relative;
            EXPECT_EQ(copy.st_mode & 07777, source.st_mode & 07777) << when << relative;
        }
    };
    const auto run = [&] {
        CopyTree();
        KeepTouchedFolderAttributes(target, Path("src"), Path("dest/copy"));
    };
    run();
    expectSameFolders("new tree: ");

    // A new file deep down, a changed one near the top, new folder times.
    WriteTestFile(Path("src/" + deep + "/two.txt"), "two");
    WriteTestFile(Path("src/a/top.txt"), "top, again");
    SetModificationTime(Path("src/a/top.txt"), 2030, 1, 1, 0, 0, 0);
    // Only the folders whose entries changed have a new time.
    SetModificationTime(Path("src/" + deep), 2023, 5, 6, 7, 9, 0);
    SetModificationTime(Path("src/a"), 2023, 5, 6, 7, 9, 0);
    run();
    EXPECT_EQ(ReadTestFile(Path("dest/copy/" + deep + "/two.txt")), "two");
    expectSameFolders("files added: ");
}

TEST_F(ChangedTreeCopyTest, CancelStopsTheWalk) {
    for (int folder = 0; folder < 3; ++folder)
        WriteTestFile(Path("src/f" + std::to_string(folder) + "/a"), "");
    window.onPump = [&] { run.cancelRequested = true; };
    CopyTree();
    EXPECT_EQ(run.scannedCount, 0);
    EXPECT_EQ(run.copiedCount, 0);
    EXPECT_EQ(window.pumpCount, 3) << "the top folder's entries only";
}

}  // namespace
