#include "EngineFixture.h"
#include "engine/CopyBesideTheWindow.h"
#include "engine/ProgressTracking.h"
#include "engine/RunProgress.h"

#include <sys/stat.h>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {
constexpr std::int64_t kSecond = 1'000'000'000;

TransferProgress Report(std::uint64_t fileBytesDone, std::uint64_t bytesDone, std::uint64_t filesDone) {
    TransferProgress progress;
    progress.currentFile = "/data/file";
    progress.fileBytesDone = fileBytesDone;
    progress.bytesDone = bytesDone;
    progress.filesDone = filesDone;
    return progress;
}

TEST(RunProgressTest, OperationsAddUpFromTheirOwnOriginAndNeverGoBack) {
    RunProgress progress;
    progress.Begin(0);
    for (std::uint64_t bytes : {100u, 200u, 300u, 400u}) progress.Counted(bytes);
    EXPECT_TRUE(progress.Counting());
    progress.CountingDone(0);

    // A copy of two files: its counts start at 0.
    progress.BeginOperation();
    progress.Absorb(Report(50, 50, 0));
    EXPECT_EQ(progress.BytesDone(), 50u);
    progress.Absorb(Report(200, 300, 2));
    EXPECT_EQ(progress.FilesDone(), 2u);
    EXPECT_EQ(progress.BytesDone(), 300u);

    // An upload whose session had sent 5000 bytes before this file.
    progress.BeginOperation();
    progress.Absorb(Report(100, 5100, 0));
    EXPECT_EQ(progress.BytesDone(), 400u);
    progress.Absorb(Report(20, 5020, 0));  // a retry from the start
    EXPECT_EQ(progress.BytesDone(), 400u);
    progress.EndOperation(1, 300);
    EXPECT_EQ(progress.FilesDone(), 3u);
    EXPECT_EQ(progress.BytesDone(), 600u);

    // A file bigger than when it was counted raises the total with it.
    progress.Settled("/data/grown", 500);
    EXPECT_EQ(progress.FilesDone(), 4u);
    EXPECT_EQ(progress.FilesTotal(), 4u);
    EXPECT_EQ(progress.BytesTotal(), 1100u);
    EXPECT_DOUBLE_EQ(progress.DoneShare(), 1.0);
    EXPECT_EQ(progress.CurrentFile(), "/data/grown");
}

TEST(RunProgressTest, TimeLeftFollowsThePaceSinceTheCountingEnded) {
    RunProgress progress;
    progress.Begin(0);
    for (int i = 0; i < 4; ++i) progress.Counted(1000);
    EXPECT_EQ(progress.SecondsLeft(30 * kSecond), -1);  // still counting
    progress.CountingDone(20 * kSecond);
    progress.Settled("/a", 1000);
    EXPECT_EQ(progress.SecondsLeft(20 * kSecond + kSecond / 2), -1);  // too early to tell
    progress.Settled("/b", 1000);
    EXPECT_EQ(progress.SecondsLeft(30 * kSecond), 10);  // half done in 10 s
    progress.Settled("/c", 1000);
    progress.Settled("/d", 1000);
    EXPECT_EQ(progress.SecondsLeft(40 * kSecond), 0);
}

TEST(RunProgressTest, SizesAndDurationsReadAsPeopleWriteThem) {
    EXPECT_EQ(ProgressSizeText(512), "512 Bytes");
    EXPECT_EQ(ProgressSizeText(1536), "1.5 KB");
    EXPECT_EQ(ProgressSizeText(3ull * 1024 * 1024 * 1024), "3.0 GB");
    EXPECT_EQ(DurationText(9), "0:09");
    EXPECT_EQ(DurationText(247), "4:07");
    EXPECT_EQ(DurationText(3909), "1:05:09");
}

// A window that keeps every progress it was shown.
class ProgressWindow : public RecordingWindow {
public:
    void ShowProgress(const RunProgress& progress) override { shown.push_back(progress); }
    void HideProgress() override { hiddenAfter = shown.size(); }

    std::vector<RunProgress> shown;
    std::size_t hiddenAfter = 0;
};

class RunProgressRunTest : public EngineFixture {
protected:
    RunProgressRunTest() { MakeSourceTree(); }

    RunOutcome RunShowingProgress(bool show) {
        BackupContext context{setup,          run,         progressWindow,    texts, reporter,
                              settingsFolder, BinFolder(), "tarnwick-backup", clock};
        context.showProgress = show;
        progressWindow.shown.clear();
        return RunBackup(context);
    }

    ProgressWindow progressWindow;
};

TEST_F(RunProgressRunTest, TotalsAreCountedFirstAndReachedInEveryLocalMode) {
    setup.entries = {dataEntry, notesFile, "-" + source.path() + "/Data/a/..."};
    for (char mode : {'0', '1'}) {
        SetOption(0, mode);
        WriteTestFile(notesFile, "notes, changed");
        ASSERT_EQ(RunShowingProgress(true), RunOutcome::Finished);
        ASSERT_GE(progressWindow.shown.size(), 2u) << "mode " << mode;
        EXPECT_TRUE(progressWindow.shown.front().Counting());
        const RunProgress& last = progressWindow.shown.back();
        EXPECT_FALSE(last.Counting());
        // c.txt and notes.txt; the folder exception holds a/b.txt back.
        EXPECT_EQ(last.FilesDone(), 2u) << "mode " << mode;
        EXPECT_EQ(last.FilesTotal(), 2u);
        EXPECT_EQ(last.BytesDone(), 4u + 14u);
        EXPECT_EQ(last.BytesTotal(), 4u + 14u);
        EXPECT_EQ(progressWindow.hiddenAfter, progressWindow.shown.size());
        EXPECT_TRUE(run.failures.empty());
    }
}

TEST_F(RunProgressRunTest, RunThatNeverGetsToCopyingShowsNoProgressAfterOneThatDid) {
    setup.entries = {notesFile};
    ASSERT_EQ(RunShowingProgress(true), RunOutcome::Finished);
    ASSERT_FALSE(progressWindow.shown.empty());
    WriteTestFile(target.path() + "/other", "");
    setup.destination = target.path() + "/other/...";  // a file where the backup folder must be
    RunShowingProgress(true);
    EXPECT_TRUE(progressWindow.shown.empty());
    EXPECT_EQ(run.failures.size(), 1u);
}

TEST_F(RunProgressRunTest, HiddenProgressCountsNothingYetLargeCopiesStillReportSoTheWindowLives) {
    // Large enough for several chunks of the copy.
    WriteTestFile(source.path() + "/Data/large.bin", std::string(48u * 1024 * 1024, 'x'));
    setup.entries = {dataEntry};
    SetOption(2, '1');  // no copy progress shown
    ASSERT_EQ(RunShowingProgress(false), RunOutcome::Finished);
    EXPECT_TRUE(progressWindow.shown.empty());
    int midFile = 0;
    for (const TransferProgress& report : reporter.progressReports)
        midFile += report.fileBytesDone > 0 && report.fileBytesDone < report.fileBytesTotal;
    EXPECT_GE(midFile, 1);
    EXPECT_EQ(run.progress.FilesDone(), 3u);  // kept all the same, at no cost
}

// The copy's thread waits (in the copy's own hold-back check) until the window
// has turned three times: only a window pumped beside the copy lets it go on.
TEST(CopyBesideTheWindowTest, WindowTurnsWhileTheCopyIsHeldUpAndReportsArriveOnItsThread) {
    TempFolder folder;
    WriteTestFile(folder.path() + "/source/a.txt", "a");
    WriteTestFile(folder.path() + "/source/b.txt", "b");
    ASSERT_EQ(::mkfifo((folder.path() + "/source/pipe").c_str(), 0600), 0);

    RecordingWindow window;
    std::atomic<int> pumps{0};
    window.onPump = [&] { ++pumps; };
    CopyOptions options;
    options.showProgress = true;
    options.holdsBack = [&](const std::string&, bool) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (pumps < 3 && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return false;
    };
    class ThreadNotingReporter : public RecordingReporter {
    public:
        void ReportError(const std::string& path, const std::string& message) override {
            threads.push_back(std::this_thread::get_id());
            RecordingReporter::ReportError(path, message);
        }
        void ReportProgress(const TransferProgress& progress) override {
            threads.push_back(std::this_thread::get_id());
            RecordingReporter::ReportProgress(progress);
        }
        std::vector<std::thread::id> threads;
    } reporter;

    const CopyOutcome outcome = CopyBesideTheWindow(folder.path() + "/source/*.*", folder.path() + "/copy",
                                                    options, reporter, window);

    EXPECT_GE(pumps, 3);
    EXPECT_EQ(outcome.filesCopied, 2u);
    EXPECT_EQ(ReadTestFile(folder.path() + "/copy/b.txt"), "b");
    ASSERT_EQ(reporter.errors.size(), 1u);  // the pipe
    ASSERT_FALSE(reporter.progressReports.empty());
    EXPECT_EQ(reporter.progressReports.back().filesDone, 2u);
    for (const std::thread::id thread : reporter.threads) EXPECT_EQ(thread, std::this_thread::get_id());
}
}  // namespace
