#include "EngineFixture.h"
#include "engine/MinuteCount.h"
#include "engine/RunLock.h"
#include "platform/SystemdUnits.h"
#include "storage/ProjectFile.h"
#include "util/SafeFormat.h"

#include <gmock/gmock.h>

#include <filesystem>

namespace {
class SchedulerTest : public EngineFixture {
protected:
    SchedulerTest() {
        WriteTestFile(source.path() + "/a.txt", "a");
        setup.entries = {source.path() + "/a.txt"};
    }

    void SetBoxes(const std::string& days, const std::string& hours, const std::string& minutes) {
        setup.daysText = days;
        setup.hoursText = hours;
        setup.minutesText = minutes;
        BackupContext context = Context();
        RecomputeInterval(context);
    }
    void TickAt(int year, int month, int day, int hour, int minute) {
        clock.Set(year, month, day, hour, minute);
        BackupContext context = Context();
        Tick(context);
    }
    void TickOnce() {
        BackupContext context = Context();
        Tick(context);
    }
    BackupSetup Saved() const {
        BackupSetup saved;
        EXPECT_EQ(LoadProject(setup.currentProjectFile, saved), ProjectLoad::Loaded);
        return saved;
    }
    std::string Remaining(int minutes) const { return FormatText(Text(TextId::MinutesRemaining), minutes); }
};

TEST(MinuteCountTest, CountsDaysWithTheDivisibleByFourRule) {
    EXPECT_EQ(MinuteCount("2024-03-01 00:00") - MinuteCount("2024-02-28 00:00"), 2 * 1440);
    EXPECT_EQ(MinuteCount("2023-03-01 00:00") - MinuteCount("2023-02-28 00:00"), 1440);
    EXPECT_EQ(MinuteCount("2100-03-01 00:00") - MinuteCount("2100-02-28 00:00"), 2 * 1440);
    EXPECT_EQ(MinuteCount("2024-03-07 10:05") - MinuteCount("2024-03-07 09:05"), 60);
    EXPECT_EQ(MinuteCount("2001-01-01 00:00") - MinuteCount("2000-01-01 00:00"), 366 * 1440);
    // Missing parts read as 0; an empty text is minute 0.
    EXPECT_EQ(MinuteCount(""), 0);
    EXPECT_EQ(MinuteCount("2000-01-01 1"), 1440 + 60);
    EXPECT_EQ(MinuteCount("2000-01-01 0a:0b"), 1440);
}

TEST_F(SchedulerTest, IntervalBoxesRestartTheCountdownAndTicksCountItDown) {
    SetBoxes("1", "2", "3");
    EXPECT_EQ(setup.interval, 1563);
    EXPECT_EQ(setup.minutesRemaining, 1563);
    EXPECT_EQ(window.statusLine, Remaining(1563));
    EXPECT_EQ(Saved().interval, 1563);

    TickOnce();
    EXPECT_EQ(window.statusLine, Remaining(1562));
    EXPECT_EQ(Saved().minutesRemaining, 1562);
    EXPECT_EQ(RunsStarted(), 0);

    // Lenient boxes: "1a" reads 10.
    SetBoxes("", "", "1a");
    EXPECT_EQ(setup.interval, 10);
}

TEST_F(SchedulerTest, TickRunsWhenTheCountdownReachesZero) {
    SetBoxes("0", "0", "2");
    TickOnce();
    EXPECT_EQ(RunsStarted(), 0);
    TickOnce();
    EXPECT_EQ(RunsStarted(), 1);
    EXPECT_EQ(setup.minutesRemaining, 2);
    EXPECT_EQ(Saved().lastRun, "2024-03-07 09:05");
    EXPECT_TRUE(window.timerRunning);
}

TEST_F(SchedulerTest, NoScheduleNeverRunsButStartNowRunsOnceAndKeepsIt) {
    SetBoxes("0", "0", "0");
    EXPECT_EQ(window.statusLine, Text(TextId::NoSchedule));
    for (int i = 0; i < 5; ++i) TickOnce();
    EXPECT_EQ(RunsStarted(), 0);

    BackupContext context = Context();
    StartNow(context);
    EXPECT_EQ(RunsStarted(), 1);
    EXPECT_EQ(setup.interval, 0);
    EXPECT_EQ(setup.minutesRemaining, 0);
    EXPECT_EQ(run.countdownText, Text(TextId::NoSchedule));
    EXPECT_EQ(Saved().interval, 0);
    EXPECT_EQ(setup.lastRun, "2024-03-07 09:05");
}

TEST_F(SchedulerTest, StartNowWithAnEmptyListOnlyShowsTheMessage) {
    SetBoxes("0", "1", "0");
    setup.entries.clear();
    BackupContext context = Context();
    StartNow(context);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].first, "You have to add any files or folders to backup first!");
    EXPECT_EQ(window.messages[0].second, Text(TextId::MessageCaption));
    EXPECT_EQ(RunsStarted(), 0);
    EXPECT_EQ(setup.minutesRemaining, 60);
}

TEST_F(SchedulerTest, StartNowWhileRunningIsIgnored) {
    SetBoxes("0", "1", "0");
    run.running = true;
    BackupContext context = Context();
    StartNow(context);
    Tick(context);
    EXPECT_EQ(RunsStarted(), 0);
    EXPECT_EQ(setup.minutesRemaining, 60);
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(SchedulerTest, RealTimeSchedulerComparesTheClockWithTheLastRun) {
    SetOption(5, '1');
    SetBoxes("0", "1", "0");
    setup.lastRun = "2024-03-07 09:05";
    TickAt(2024, 3, 7, 10, 4);
    EXPECT_EQ(RunsStarted(), 0);
    EXPECT_EQ(window.statusLine, FormatText(Text(TextId::LastRunFormat), "2024-03-07 09:05"));
    TickAt(2024, 3, 7, 10, 5);
    EXPECT_EQ(RunsStarted(), 1);
    EXPECT_EQ(setup.lastRun, "2024-03-07 10:05");

    setup.lastRun = "2024-03-07 23:30";
    TickAt(2024, 3, 8, 0, 1);
    EXPECT_EQ(RunsStarted(), 1);
    setup.lastRun = "2024-03-07 09:05";
    TickAt(2024, 3, 8, 0, 1);
    EXPECT_EQ(RunsStarted(), 2);

    // An empty last run counts as minute 0: the first tick runs.
    setup.lastRun.clear();
    TickOnce();
    EXPECT_EQ(RunsStarted(), 3);
}

TEST_F(SchedulerTest, RemainingAboveTheIntervalIsShownOnceThenCappedToIt) {
    SetBoxes("0", "0", "10");
    setup.minutesRemaining = 100;
    TickOnce();
    EXPECT_EQ(window.statusLine, Remaining(99));
    EXPECT_EQ(setup.minutesRemaining, 10);
    EXPECT_EQ(Saved().minutesRemaining, 10);
    EXPECT_EQ(RunsStarted(), 0);
}

TEST_F(SchedulerTest, RunLockedElsewhereIsTriedAgainAtTheNextTick) {
    SetBoxes("0", "0", "1");
    {
        const RunLock other(settingsFolder);
        TickOnce();
        EXPECT_EQ(RunsStarted(), 0);
        EXPECT_EQ(setup.minutesRemaining, 0);
        EXPECT_EQ(window.statusLine, Text(TextId::RunLockedElsewhere));
        TickOnce();
        EXPECT_EQ(setup.minutesRemaining, 0);
    }
    TickOnce();
    EXPECT_EQ(RunsStarted(), 1);
    EXPECT_EQ(setup.minutesRemaining, 1);

    // Start now without a schedule still says why nothing happened.
    SetBoxes("0", "0", "0");
    const RunLock other(settingsFolder);
    BackupContext context = Context();
    StartNow(context);
    EXPECT_EQ(RunsStarted(), 1);
    EXPECT_EQ(window.statusLine, Text(TextId::RunLockedElsewhere));
    EXPECT_EQ(setup.interval, 0);
}

TEST_F(SchedulerTest, AutomaticStartReturnsTheWindowToTheTrayOnEveryTick) {
    SetBoxes("0", "0", "0");
    SetOption(7, '1');
    BackupContext automatic = Context("\"/usr/bin/tarnwick-backup\" %1");
    Tick(automatic);
    Tick(automatic);
    EXPECT_EQ(std::count(window.events.begin(), window.events.end(), "tray"), 2);

    BackupContext manual = Context("/usr/bin/tarnwick-backup");
    Tick(manual);
    EXPECT_EQ(std::count(window.events.begin(), window.events.end(), "tray"), 2);
}

TEST_F(SchedulerTest, CancelledRunRestartsTheCountdownButLeavesTheRealTimeBackupDue) {
    setup.backupMode = 1;  // copies that pump, so the stop request can arrive
    setup.lastRun = "2024-03-07 07:00";
    SetBoxes("0", "1", "0");
    setup.minutesRemaining = 1;
    window.onPump = [this] { RequestCancel(run); };
    TickOnce();
    EXPECT_EQ(RunsStarted(), 1);
    EXPECT_EQ(setup.lastRun, "2024-03-07 07:00");
    EXPECT_EQ(Saved().lastRun, "2024-03-07 07:00");
    EXPECT_EQ(setup.minutesRemaining, 60);
    window.onPump = nullptr;
    TickOnce();
    EXPECT_EQ(RunsStarted(), 1);

    // The real-time scheduler goes by the last completed backup: still due.
    SetOption(5, '1');
    TickOnce();
    EXPECT_EQ(RunsStarted(), 2);
    EXPECT_EQ(setup.lastRun, "2024-03-07 09:05");
}

TEST_F(SchedulerTest, RefusedDestinationStaysDueAndSaysWhy) {
    SetBoxes("0", "0", "1");
    const std::string destination = setup.destination;
    setup.destination = "relative/...";
    TickOnce();
    EXPECT_EQ(RunsStarted(), 0);
    EXPECT_EQ(setup.minutesRemaining, 0);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.statusLine, window.messages[0].first);
    EXPECT_THAT(window.statusLine, ::testing::HasSubstr("\"relative/...\" is not an absolute path"));

    // Once mended, the next tick backs up.
    setup.destination = destination;
    TickOnce();
    EXPECT_EQ(RunsStarted(), 1);

    // Start now without a schedule keeps the reason on the status line.
    setup.destination = "relative/...";
    SetBoxes("0", "0", "0");
    BackupContext context = Context();
    StartNow(context);
    EXPECT_EQ(RunsStarted(), 1);
    EXPECT_EQ(window.statusLine, window.messages.back().first);
    EXPECT_EQ(setup.interval, 0);
}

TEST_F(SchedulerTest, UnsavableProjectDoesNotStopTheSchedule) {
    setup.currentProjectFile = home.path();  // a folder
    SetBoxes("0", "0", "1");
    EXPECT_FALSE(reporter.errors.empty());
    TickOnce();
    EXPECT_EQ(RunsStarted(), 1);
}
TEST_F(SchedulerTest, ASystemdTimerOfTheProjectTakesOverTheSchedule) {
    SetBoxes("0", "0", "1");
    const SystemdUnits units = *SystemdUnitsFor(setup.currentProjectFile);
    std::filesystem::create_directories(units.folder);
    WriteTestFile(units.TimerPath(), "[Timer]\n");
    const std::string inCharge = FormatText(Text(TextId::SystemdTimerInCharge), units.timerName);

    // Due, yet the window neither counts down nor runs: the timer does.
    TickOnce();
    TickOnce();
    EXPECT_EQ(RunsStarted(), 0);
    EXPECT_EQ(setup.minutesRemaining, 1);
    EXPECT_EQ(window.statusLine, inCharge);
    SetBoxes("0", "0", "5");
    EXPECT_EQ(window.statusLine, inCharge);

    // Start now is the user's own run.
    BackupContext context = Context();
    StartNow(context);
    EXPECT_EQ(RunsStarted(), 1);

    // Without the timer the window's schedule counts down again.
    std::filesystem::remove(units.TimerPath());
    TickOnce();
    EXPECT_EQ(window.statusLine, Remaining(4));
}
}  // namespace
