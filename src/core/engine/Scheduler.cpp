#include "engine/BackupEngine.h"
#include "engine/Countdown.h"
#include "engine/MinuteCount.h"
#include "engine/ProjectSave.h"
#include "platform/ProcessInfo.h"
#include "sources/Entries.h"
#include "storage/OptionString.h"

#include <cstdint>
#include <optional>

namespace {
bool RealTimeRunIsDue(const BackupContext& context) {
    const BackupSetup& setup = context.setup;
    return MinuteCount(GetDateTimeText(context.clock)) >= MinuteCount(setup.lastRun) + setup.interval;
}

void MinimizeWhenStartedAutomatically(BackupContext& context) {
    if (IsStartedAutomatically(context.commandLine) &&
        OptionIsOne(context.setup.optionFlags, Option::kMinimizeOnAutostart))
        context.window.MinimizeToTray();
}

// While a systemd timer runs the project (schedule --systemd) the window's
// scheduler stands aside, so the project is never run by both: no countdown,
// no scheduled run, only a line that names the timer. A run started by hand
// still runs; the run lock keeps it from overlapping the timer's.
bool ShowTimerInCharge(BackupContext& context) {
    std::optional<std::string> text = TimerInChargeText(context.texts, context.setup);
    if (!text) return false;
    context.run.countdownText = std::move(*text);
    context.window.Refresh();
    return true;
}

// One tick; the outcome of the run it started, if any.
std::optional<RunOutcome> TickOnce(BackupContext& context) {
    BackupSetup& setup = context.setup;
    // The window's timer is stopped during a run, but a tick delivered while the
    // run pumps messages must still never start a run inside the run.
    if (context.run.running) return std::nullopt;
    context.window.PullValues();
    if (IsRemoteDestination(setup.destination)) context.run.ftp = DecodeFtpDestination(setup.destination);

    std::optional<RunOutcome> outcome;
    if (setup.interval != 0) {
        // A countdown that a locked-out run left at 0 stays at 0, so the next
        // tick tries again instead of counting into negative minutes for ever.
        if (setup.minutesRemaining > 0) --setup.minutesRemaining;
        if (setup.minutesRemaining < 0) setup.minutesRemaining = 0;
        context.run.countdownText = CountdownText(context.texts, setup, setup.minutesRemaining);
        SaveCurrentProject(context);
        context.window.Refresh();

        if (setup.minutesRemaining > setup.interval) setup.minutesRemaining = setup.interval;
        if (OptionIsOne(setup.optionFlags, Option::kRealTimeScheduler) && RealTimeRunIsDue(context))
            setup.minutesRemaining = 0;
        if (setup.minutesRemaining == 0) outcome = RunBackup(context);
        SaveCurrentProject(context);
    }

    MinimizeWhenStartedAutomatically(context);
    return outcome;
}
}  // namespace

void RecomputeInterval(BackupContext& context) {
    BackupSetup& setup = context.setup;
    context.window.PullValues();
    setup.interval = IntervalFromBoxes(setup);
    setup.minutesRemaining = setup.interval;
    SaveCurrentProject(context);
    context.run.countdownText = setup.interval == 0
                                    ? context.texts.GetText(TextId::NoSchedule)
                                    : CountdownText(context.texts, setup, setup.minutesRemaining);
    if (!ShowTimerInCharge(context)) context.window.Refresh();
}

void Tick(BackupContext& context) {
    if (context.run.running || !ShowTimerInCharge(context)) {
        TickOnce(context);
        return;
    }
    MinimizeWhenStartedAutomatically(context);
}

void StartNow(BackupContext& context) {
    BackupSetup& setup = context.setup;
    if (context.run.running) return;
    if (setup.entries.empty()) {
        context.window.ShowMessage("You have to add any files or folders to backup first!",
                                   context.texts.GetText(TextId::MessageCaption));
        return;
    }
    const bool hadNoSchedule = setup.interval == 0;
    if (hadNoSchedule) {
        setup.interval = 1;
        SaveCurrentProject(context);
    }
    setup.minutesRemaining = 1;
    SaveCurrentProject(context);

    const std::optional<RunOutcome> outcome = TickOnce(context);
    const std::string whyNothingStarted = context.run.countdownText;

    if (hadNoSchedule) {
        setup.interval = 1;
        SaveCurrentProject(context);
        RecomputeInterval(context);
        // The recompute shows "no schedule"; a run that could not start must
        // still say why.
        if (outcome && NothingStarted(*outcome)) {
            context.run.countdownText = whyNothingStarted;
            context.window.SetStatusLine(context.run.countdownText);
        }
    }
}

bool NothingStarted(RunOutcome outcome) {
    return outcome == RunOutcome::LockedElsewhere || outcome == RunOutcome::AlreadyRunning ||
           outcome == RunOutcome::DestinationRefused;
}

void RequestCancel(RunState& run) {
    if (run.running) run.cancelRequested = true;
}
