#include "EngineFixture.h"
#include "engine/BackupLayout.h"
#include "engine/RunLock.h"
#include "engine/RunReport.h"
#include "storage/ProjectFile.h"
#include "util/SafeFormat.h"
#include "util/TimeText.h"

#include <gmock/gmock.h>

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {
class BackupRunTest : public EngineFixture {
protected:
    BackupRunTest() {
        MakeSourceTree();
        WriteTestFile(source.path() + "/Data/.hidden", "h");
        root = target.path() + "/backup";
        dataFolder = root + "/" + EntryFolderName(dataEntry, 0, false);
    }

    std::string root;
    std::string dataFolder;
};

TEST(BackupLayoutTest, DerivesNamesFromSlashPaths) {
    EXPECT_EQ(EntryFolderName("/home/ann/Data/...", 0, false), "_home_ann_Data");
    EXPECT_EQ(EntryFolderName("/mnt/c:/Work/...", 0, false), "_mnt_c-_Work");
    EXPECT_EQ(EntryFolderName("/home/ann/Data/...", 3, true), "3");
    EXPECT_EQ(EntryFolderName("//...", 0, false), "_");  // the root folder
    EXPECT_EQ(BackupRoot("/mnt/backups/..."), "/mnt/backups");
    EXPECT_EQ(BackupRoot("..."), "");
    EXPECT_EQ(WholeFolderPattern("/home/ann/Data/..."), "/home/ann/Data/*.*");
    EXPECT_EQ(RelativePath("/data/a/b.txt", "/data/..."), "/a/b.txt");
    EXPECT_EQ(RelativeFolder("/a/b.txt"), "/a");
    EXPECT_EQ(RelativeFolder("/c.txt"), "");
    EXPECT_EQ(FileNameOf("/data/notes.txt"), "notes.txt");
}

TEST(BackupLayoutTest, OnlyAnAbsoluteFolderWithItsSuffixOrAnFtpServerIsADestination) {
    EXPECT_EQ(DestinationProblem("/mnt/backups/..."), "");
    EXPECT_EQ(DestinationProblem("//..."), "");
    EXPECT_EQ(DestinationProblem(FtpDestination("ftp://host", "ann", "secret", "backups")), "");
    EXPECT_EQ(DestinationProblem(""), "no backup folder is set");
    EXPECT_THAT(DestinationProblem("/mnt/backups"), HasSubstr("\"/mnt/backups\" does not end in \"/...\""));
    EXPECT_THAT(DestinationProblem("/mnt/backups/"), HasSubstr("does not end in"));
    EXPECT_THAT(DestinationProblem("backups/..."), HasSubstr("\"backups/...\" is not an absolute path"));
    EXPECT_THAT(DestinationProblem("~/backups/..."), HasSubstr("is not an absolute path"));
    EXPECT_THAT(DestinationProblem("..."), HasSubstr("does not end in"));
    EXPECT_THAT(DestinationProblem("/..."), HasSubstr("names no folder"));
    const std::string noServer = DestinationProblem(FtpDestination("ftp://", "ann", "secret", "backups"));
    EXPECT_THAT(noServer, HasSubstr("names no server"));
    EXPECT_THAT(noServer, Not(HasSubstr("secret")));
}

TEST(RunReportTest, SizeTextTakesTheLastRuleThatApplies) {
    EXPECT_EQ(SizeText(0), "0 Bytes");
    EXPECT_EQ(SizeText(1024), "1024 Bytes");
    EXPECT_EQ(SizeText(1025), "1 KB");
    EXPECT_EQ(SizeText(1048576), "1024 KB");
    EXPECT_EQ(SizeText(1048577), "1 MB");
    EXPECT_EQ(SizeText(1073741824), "1024 MB");
    EXPECT_EQ(SizeText(3ull << 30), "3 GB");
    // Only the low 32 bits of the quotient are printed, as a signed number.
    EXPECT_EQ(SizeText((1ull << 31) << 30), "-2147483648 GB");
}

TEST_F(BackupRunTest, FullLocalRunCopiesEachFolderWholeAndFilesIntoTheRoot) {
    // The file entry comes first: the root must be a folder before it is copied.
    setup.entries = {notesFile, dataEntry};
    StartLog();
    ASSERT_EQ(Run(), RunOutcome::Finished);

    EXPECT_EQ(ReadTestFile(root + "/notes.txt"), "notes");
    EXPECT_EQ(ReadTestFile(dataFolder + "/a/b.txt"), "bee");
    EXPECT_EQ(ReadTestFile(dataFolder + "/c.txt"), "sea!");
    EXPECT_EQ(ReadTestFile(dataFolder + "/.hidden"), "h");
    EXPECT_EQ(run.scannedCount, 2);
    EXPECT_EQ(run.copiedCount, 2);
    EXPECT_TRUE(run.failures.empty());

    const std::string start = TimeText() + Text(TextId::RunStarted);
    const std::string end = TimeText() + Text(TextId::RunEnded);
    EXPECT_EQ(ReadTestFile(LogPath()), kLogHeader + kRunSeparator + start + "\r\n" +
                                           Text(TextId::LogCopiedFile) + " " + notesFile + "\r\n" +
                                           Text(TextId::LogCopiedFolder) + " " + source.path() +
                                           "/Data/*.*\r\n" + end + "\r\n");
}

TEST_F(BackupRunTest, IndexNamesCountEveryEntryIncludingExceptions) {
    setup.entries = {"-" + source.path() + "/Data/c.txt", notesFile, dataEntry};
    SetOption(6, '1');
    Run();
    EXPECT_EQ(ReadTestFile(root + "/2/a/b.txt"), "bee");
    // The exception inside the folder holds its file back in a full run too.
    EXPECT_FALSE(fs::exists(root + "/2/c.txt"));
    EXPECT_FALSE(fs::exists(dataFolder));
}

TEST_F(BackupRunTest, FullLocalRunHoldsBackExactlyWhatExceptionsNameAndLogsOnlyRealCopies) {
    WriteTestFile(source.path() + "/Data/c.txt.bak", "kept");
    WriteTestFile(source.path() + "/Data/ab/x.txt", "kept");
    const std::string excludedFile = source.path() + "/excluded.txt";
    WriteTestFile(excludedFile, "held back");
    const std::string missing = source.path() + "/renamed.txt";
    const std::string dangling = source.path() + "/dangling.txt";
    fs::create_symlink(source.path() + "/nowhere", dangling);
    setup.entries = {notesFile,
                     missing,
                     dangling,
                     excludedFile,
                     dataEntry,
                     "-" + source.path() + "/Data/a/...",
                     "-" + source.path() + "/Data/c.txt",
                     "-" + excludedFile};
    StartLog();
    Run();

    EXPECT_FALSE(fs::exists(dataFolder + "/a"));
    EXPECT_FALSE(fs::exists(dataFolder + "/c.txt"));
    EXPECT_FALSE(fs::exists(root + "/excluded.txt"));
    EXPECT_EQ(ReadTestFile(dataFolder + "/c.txt.bak"), "kept");
    EXPECT_EQ(ReadTestFile(dataFolder + "/ab/x.txt"), "kept");
    EXPECT_EQ(ReadTestFile(dataFolder + "/.hidden"), "h");
    EXPECT_EQ(run.scannedCount, 5);
    EXPECT_EQ(run.copiedCount, 2) << "the notes file and the folder";
    ASSERT_EQ(run.failures.size(), 2u);
    EXPECT_TRUE(run.failures[0].starts_with(missing + ": "));
    EXPECT_TRUE(run.failures[1].starts_with(dangling + ": "));

    const std::string log = ReadTestFile(LogPath());
    EXPECT_THAT(log, HasSubstr(Text(TextId::LogCopiedFile) + " " + notesFile + "\r\n"));
    EXPECT_THAT(log, Not(HasSubstr(Text(TextId::LogCopiedFile) + " " + missing)));
    EXPECT_THAT(log, Not(HasSubstr(Text(TextId::LogCopiedFile) + " " + dangling)));
    EXPECT_THAT(log, Not(HasSubstr(Text(TextId::LogCopiedFile) + " " + excludedFile)));
    EXPECT_THAT(log, HasSubstr(Text(TextId::LogFailure) + run.failures[0] + "\r\n"));
}

// A folder entry that names nothing (the temporary files' folder of an old
// mapping, a renamed folder) fails the run in every mode instead of silence.
TEST_F(BackupRunTest, MissingEntriesAreFailuresInEveryMode) {
    const std::string missingFolder = source.path() + "/.cache/Temp";
    const std::string missingFile = source.path() + "/gone.txt";
    setup.entries = {missingFolder + "/...", missingFile, notesFile};
    for (const int mode : {0, 1}) {
        setup.backupMode = mode;
        Run();
        ASSERT_EQ(run.failures.size(), 2u) << "mode " << mode;
        EXPECT_TRUE(run.failures[0].starts_with(missingFolder + ": ")) << run.failures[0];
        EXPECT_TRUE(run.failures[1].starts_with(missingFile + ": ")) << run.failures[1];
        EXPECT_EQ(ReadTestFile(root + "/notes.txt"), "notes");
        EXPECT_FALSE(fs::exists(root + "/" + EntryFolderName(missingFolder + "/...", 0, false)));
    }
    EXPECT_EQ(run.copiedCount, 0) << "the notes file was current";
}

// A file deleted after the walk found it is reported, not counted.
TEST_F(BackupRunTest, FileThatVanishesAfterTheWalkIsReported) {
    const std::string doomed = source.path() + "/Data/c.txt";
    setup.entries = {dataEntry};
    setup.backupMode = 1;
    window.onPump = [&] {
        if (std::find(run.foundFiles.begin(), run.foundFiles.end(), doomed) != run.foundFiles.end())
            fs::remove(doomed);
    };
    Run();
    EXPECT_EQ(run.scannedCount, 3);
    EXPECT_EQ(run.copiedCount, 2);
    EXPECT_FALSE(fs::exists(dataFolder + "/c.txt"));
    ASSERT_EQ(run.failures.size(), 1u);
    EXPECT_EQ(run.failures[0], doomed + ": vanished while the backup ran; not copied");
}

// A killed run leaves ".<name>.part-<pid>-<n>" beside the copy; the next run
// that copies there removes it, and only it.
TEST_F(BackupRunTest, LaterRunRemovesTemporaryFilesOfAKilledRun) {
    pid_t gone = 0;
    for (pid_t candidate = 4'000'000; candidate > 0 && gone == 0; candidate -= 997)
        if (::kill(candidate, 0) != 0 && errno == ESRCH) gone = candidate;
    ASSERT_NE(gone, 0);
    setup.entries = {dataEntry};
    setup.backupMode = 1;
    Run();
    const std::string stale = dataFolder + "/.c.txt.part-" + std::to_string(gone) + "-0";
    const std::string lookalike = dataFolder + "/.c.txt.part-" + std::to_string(gone) + "-0.keep";
    WriteTestFile(stale, "half a copy");
    WriteTestFile(lookalike, "not ours");
    WriteTestFile(source.path() + "/Data/c.txt", "SEA!");
    SetModificationTime(source.path() + "/Data/c.txt", 2030, 1, 1, 10, 0, 0);
    Run();
    EXPECT_EQ(run.copiedCount, 1);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(lookalike));
    EXPECT_TRUE(run.failures.empty());
}

TEST_F(BackupRunTest, IncrementalLocalRunCopiesOnlyChangedFilesAndLogsThem) {
    setup.entries = {dataEntry, notesFile};
    setup.backupMode = 1;
    StartLog();
    ASSERT_EQ(Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTestFile(dataFolder + "/a/b.txt"), "bee");
    EXPECT_EQ(ReadTestFile(root + "/notes.txt"), "notes");
    EXPECT_EQ(run.scannedCount, 4);
    EXPECT_EQ(run.copiedCount, 4);
    EXPECT_EQ(run.byteTotal, 3u + 4u + 1u + 5u);

    // The log's per-file lines come in walk order; check the block as a whole.
    const std::string log = ReadTestFile(LogPath());
    const std::string start = TimeText() + Text(TextId::RunStarted);
    const std::string tail = Text(TextId::ScannedPrefix) + "4\r\n" + Text(TextId::CopiedPrefix) + "4\r\n" +
                             Text(TextId::SizePrefix) + " 13 Bytes\r\n" + TimeText() +
                             Text(TextId::RunEnded) + "\r\n";
    ASSERT_TRUE(log.starts_with(kLogHeader + kRunSeparator + start + "\r\n")) << log;
    ASSERT_TRUE(log.ends_with(tail)) << log;
    for (const std::string& copy : {dataFolder + "/a/b.txt", dataFolder + "/c.txt", dataFolder + "/.hidden"})
        EXPECT_THAT(log, HasSubstr(Text(TextId::LogCopiedFile) + " " + copy + "\r\n"));
    EXPECT_THAT(log, HasSubstr(Text(TextId::LogCopiedFile) + " " + root + "/notes.txt\r\n" + tail));

    // Nothing changed: nothing copied. One file a minute newer: only it.
    Run();
    EXPECT_EQ(run.scannedCount, 4);
    EXPECT_EQ(run.copiedCount, 0);
    WriteTestFile(source.path() + "/Data/c.txt", "SEA!");
    SetModificationTime(source.path() + "/Data/c.txt", 2030, 1, 1, 10, 0, 0);
    Run();
    EXPECT_EQ(run.copiedCount, 1);
    EXPECT_EQ(ReadTestFile(dataFolder + "/c.txt"), "SEA!");
}

TEST_F(BackupRunTest, IncrementalFolderExceptionsHoldBackTheirFiles) {
    WriteTestFile(source.path() + "/Data/skip/x.txt", "x");
    setup.entries = {dataEntry, "-" + source.path() + "/Data/skip/...", "-" + source.path() + "/Data/c.txt"};
    setup.backupMode = 1;
    Run();
    EXPECT_TRUE(fs::exists(dataFolder + "/a/b.txt"));
    EXPECT_FALSE(fs::exists(dataFolder + "/skip/x.txt"));
    EXPECT_FALSE(fs::exists(dataFolder + "/c.txt"));
    EXPECT_EQ(run.scannedCount, 4);
    EXPECT_EQ(run.copiedCount, 2);
}

TEST_F(BackupRunTest, OnlyExceptionsCopyNothingAndReportZeroCounts) {
    setup.entries = {"-" + dataEntry, "-" + notesFile};
    setup.backupMode = 1;
    SetOption(3, '1');
    Run();
    EXPECT_FALSE(fs::exists(root));
    EXPECT_TRUE(run.failures.empty());
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_THAT(window.messages[0].first, HasSubstr(Text(TextId::ScannedPrefix) + "0\n"));
    EXPECT_THAT(window.messages[0].first, HasSubstr(Text(TextId::CopiedPrefix) + "0\n"));
}

TEST_F(BackupRunTest, SummaryOfAFullLocalRunHasNoCounts) {
    setup.entries = {notesFile};
    SetOption(3, '1');
    Run();
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].first,
              TimeText() + Text(TextId::RunStarted) + "\n\n\n\n\n" + TimeText() + Text(TextId::RunEnded));
    EXPECT_EQ(window.messages[0].second, Text(TextId::MessageCaption));
}

TEST_F(BackupRunTest, RunEndRearmsTheScheduleAndSavesTheProject) {
    setup.entries = {notesFile};
    setup.interval = 90;
    setup.minutesRemaining = 0;
    clock.Set(2024, 3, 7, 11, 42);
    Run();
    EXPECT_EQ(setup.lastRun, "2024-03-07 11:42");
    EXPECT_EQ(setup.minutesRemaining, 90);
    EXPECT_EQ(run.countdownText, FormatText(Text(TextId::MinutesRemaining), 90));
    EXPECT_FALSE(run.running);
    EXPECT_FALSE(window.running);
    EXPECT_TRUE(window.timerRunning);

    BackupSetup saved;
    ASSERT_EQ(LoadProject(setup.currentProjectFile, saved), ProjectLoad::Loaded);
    EXPECT_EQ(saved.lastRun, "2024-03-07 11:42");
    EXPECT_EQ(saved.minutesRemaining, 90);

    SetOption(5, '1');
    Run();
    EXPECT_EQ(run.countdownText, FormatText(Text(TextId::LastRunFormat), "2024-03-07 11:42"));
}

TEST_F(BackupRunTest, CancelSkipsTheRemainingEntriesAndEndsAsACancelledRun) {
    WriteTestFile(source.path() + "/second.txt", "2");
    setup.entries = {notesFile, source.path() + "/second.txt", dataEntry};
    setup.backupMode = 1;
    setup.interval = 30;
    setup.lastRun = "2024-03-06 20:15";
    SetOption(3, '1');
    StartLog();
    window.onPump = [this] { RequestCancel(run); };
    EXPECT_EQ(Run(), RunOutcome::Cancelled);
    // The stop request arrives while the first file is being copied.
    EXPECT_TRUE(fs::exists(root + "/notes.txt"));
    EXPECT_FALSE(fs::exists(root + "/second.txt"));
    EXPECT_FALSE(fs::exists(dataFolder));
    const std::string cancelLine = TimeText() + Text(TextId::RunCancelled);
    const std::string log = ReadTestFile(LogPath());
    EXPECT_TRUE(log.ends_with(cancelLine + "\r\n")) << log;
    EXPECT_THAT(log, Not(HasSubstr(Text(TextId::RunEnded))));
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_TRUE(window.messages[0].first.ends_with(cancelLine)) << window.messages[0].first;
    // No completed backup: the last run stays, in memory and in the file; the
    // countdown starts again so the stopped run does not restart at once.
    EXPECT_EQ(setup.lastRun, "2024-03-06 20:15");
    BackupSetup saved;
    ASSERT_EQ(LoadProject(setup.currentProjectFile, saved), ProjectLoad::Loaded);
    EXPECT_EQ(saved.lastRun, "2024-03-06 20:15");
    EXPECT_EQ(setup.minutesRemaining, 30);
    EXPECT_FALSE(run.running);

    // The next run starts with the flag cleared and counts as a backup.
    window.onPump = nullptr;
    EXPECT_EQ(Run(), RunOutcome::Finished);
    EXPECT_TRUE(fs::exists(dataFolder + "/a/b.txt"));
    EXPECT_EQ(setup.lastRun, TimeText().substr(0, 16));
    EXPECT_TRUE(ReadTestFile(LogPath()).ends_with(TimeText() + Text(TextId::RunEnded) + "\r\n"));
}

TEST_F(BackupRunTest, StopReachesTheCopyOfAWholeFolderInAFullRun) {
    const std::string bulk = source.path() + "/Bulk";
    fs::create_directories(bulk);
    constexpr int kFiles = 3000;
    for (int i = 0; i < kFiles; ++i)
        WriteTestFile(bulk + "/f" + std::to_string(i), "content " + std::to_string(i));
    setup.entries = {bulk + "/..."};
    StartLog();
    // The user presses Stop once the folder's files have started to arrive.
    const std::string copy = root + "/" + EntryFolderName(bulk + "/...", 0, false);
    window.onPump = [&] {
        std::error_code error;
        if (fs::exists(copy, error) && !fs::is_empty(copy, error)) RequestCancel(run);
    };
    EXPECT_EQ(Run(), RunOutcome::Cancelled);

    std::size_t copied = 0;
    for (const auto& file : fs::directory_iterator(copy)) {
        ++copied;
        const std::string name = file.path().filename().string();
        EXPECT_EQ(ReadTestFile(file.path().string()), "content " + name.substr(1)) << name;
    }
    EXPECT_GT(copied, 0u);
    EXPECT_LT(copied, static_cast<std::size_t>(kFiles));
    EXPECT_TRUE(ReadTestFile(LogPath()).ends_with(TimeText() + Text(TextId::RunCancelled) + "\r\n"));
}

TEST_F(BackupRunTest, AutomaticStartWaitsInSecondStepsAndCanBeStopped) {
    setup.entries = {notesFile};
    setup.optionFlags = "000000000002000";
    BackupContext context = Context("\"/usr/bin/tarnwick-backup\" %1");
    bool runningDuringWait = false;
    window.onRefresh = [&] {
        window.statusLine = run.countdownText;
        if (run.countdownText == FormatText(Text(TextId::AutostartWait), 2))
            runningDuringWait = run.running && window.running;
    };
    EXPECT_EQ(RunBackup(context), RunOutcome::Finished);
    EXPECT_TRUE(runningDuringWait);
    EXPECT_EQ(window.waitedMilliseconds, 120000);
    EXPECT_EQ(std::count(window.events.begin(), window.events.end(), "wait:1000"), 120);
    EXPECT_TRUE(fs::exists(root + "/notes.txt"));

    // A stop request during the wait ends the wait and copies nothing.
    fs::remove_all(root);
    window.waitedMilliseconds = 0;
    window.onRefresh = [&] {
        if (run.countdownText == FormatText(Text(TextId::AutostartWait), 2)) RequestCancel(run);
    };
    EXPECT_EQ(RunBackup(context), RunOutcome::Cancelled);
    EXPECT_EQ(window.waitedMilliseconds, 0);
    EXPECT_FALSE(fs::exists(root + "/notes.txt"));
}

TEST_F(BackupRunTest, RunHeldElsewhereDoesNotStart) {
    setup.entries = {notesFile};
    setup.interval = 5;
    setup.minutesRemaining = 0;
    {
        const RunLock other(settingsFolder);
        ASSERT_TRUE(other.Held());
        EXPECT_EQ(Run(), RunOutcome::LockedElsewhere);
        EXPECT_EQ(window.statusLine, Text(TextId::RunLockedElsewhere));
        EXPECT_EQ(setup.minutesRemaining, 0);
        EXPECT_EQ(RunsStarted(), 0);
        EXPECT_FALSE(fs::exists(root));
    }
    EXPECT_EQ(Run(), RunOutcome::Finished);
    EXPECT_TRUE(fs::exists(root + "/notes.txt"));
}

TEST_F(BackupRunTest, StartRequestsDuringARunAreIgnored) {
    setup.entries = {notesFile, dataEntry};
    setup.backupMode = 1;
    int nestedOutcomes = 0;
    window.onPump = [&] {
        BackupContext context = Context();
        StartNow(context);
        Tick(context);
        nestedOutcomes += RunBackup(context) == RunOutcome::AlreadyRunning;
    };
    Run();
    EXPECT_EQ(RunsStarted(), 1);
    EXPECT_GT(nestedOutcomes, 0);
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(BackupRunTest, CopyErrorsAreCollectedLoggedAndShown) {
    // A regular file where the folder entry's copy must go.
    WriteTestFile(dataFolder, "in the way");
    setup.entries = {dataEntry, notesFile};
    setup.backupMode = 1;
    SetOption(3, '1');
    StartLog();
    Run();

    ASSERT_FALSE(run.failures.empty());
    EXPECT_FALSE(reporter.errors.empty());  // still passed on to the owner
    EXPECT_EQ(ReadTestFile(root + "/notes.txt"), "notes");
    const std::string log = ReadTestFile(LogPath());
    EXPECT_THAT(log, HasSubstr(Text(TextId::LogFailure) + run.failures.front() + "\r\n"));
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_TRUE(window.messages[0].first.ends_with("\n" + Text(TextId::FailuresPrefix) +
                                                   std::to_string(run.failures.size())));
}

TEST_F(BackupRunTest, UnwritableLogAndProjectAreFailuresNotAborts) {
    setup.entries = {notesFile};
    SetOption(4, '1');
    fs::remove(LogPath());
    fs::create_directories(LogPath());  // a folder where the log must be
    setup.currentProjectFile = home.path() + "/project-folder";
    fs::create_directories(setup.currentProjectFile);

    EXPECT_EQ(Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTestFile(root + "/notes.txt"), "notes");
    bool logFailure = false, projectFailure = false;
    for (const std::string& failure : run.failures) {
        logFailure |= failure.starts_with(LogPath());
        projectFailure |= failure.starts_with(setup.currentProjectFile);
    }
    EXPECT_TRUE(logFailure);
    EXPECT_TRUE(projectFailure);
}

TEST_F(BackupRunTest, BackupFolderThatCannotBeCreatedIsAFailureOfTheRun) {
    setup.entries = {notesFile};
    WriteTestFile(target.path() + "/file", "x");
    setup.destination = target.path() + "/file/...";
    EXPECT_EQ(Run(), RunOutcome::Finished);
    EXPECT_EQ(run.failures.size(), 1u);
}

TEST_F(BackupRunTest, DestinationOfTheWrongFormIsRefusedBeforeTheRunBegins) {
    setup.entries = {notesFile, dataEntry};
    setup.lastRun = "2024-03-06 20:15";
    StartLog();
    const std::string parentFolder = target.path() + "/backup";
    for (const std::string& destination :
         {std::string(), std::string("/..."), parentFolder, parentFolder + "/", std::string("backup/..."),
          FtpDestination("ftp://", "ann", "secret", "backups")}) {
        setup.destination = destination;
        window.messages.clear();
        EXPECT_EQ(Run(), RunOutcome::DestinationRefused) << destination;
        ASSERT_EQ(window.messages.size(), 1u) << destination;
        EXPECT_EQ(window.messages[0].first,
                  "Nothing was backed up: " + DestinationProblem(destination) + ".");
        EXPECT_EQ(window.statusLine, window.messages[0].first);
    }
    EXPECT_EQ(RunsStarted(), 0);
    // Nothing written: not into the parent folder, not below the current folder,
    // no log lines, and the last run is what it was.
    EXPECT_TRUE(fs::is_empty(target.path()));
    EXPECT_FALSE(fs::exists("backup"));
    EXPECT_EQ(ReadTestFile(LogPath()), kLogHeader);
    EXPECT_EQ(setup.lastRun, "2024-03-06 20:15");
}
}  // namespace
