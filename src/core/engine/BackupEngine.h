#pragma once

#include "engine/BackupWindow.h"
#include "engine/RunState.h"
#include "i18n/CTranslation.h"
#include "platform/TransferReporter.h"
#include "storage/BackupSetup.h"
#include "util/TimeText.h"

#include <string>

// Everything the scheduler and the run work on; the owner (main window or CLI)
// keeps all of it alive.
struct BackupContext {
    BackupSetup& setup;
    RunState& run;
    BackupWindow& window;
    const CTranslation& texts;
    // Receives the copy facility's and the FTP transfer's errors and progress.
    TransferReporter& reporter;
    std::string settingsFolder;  // holds the history log and the run lock
    std::string programFolder;
    std::string commandLine;  // for the automatic-start test
    const Clock& clock = SystemClock();
    // Count the totals before copying and show the run's progress through
    // window.ShowProgress (the window: option position 2; the CLI: a terminal).
    bool showProgress = false;
};

// Reads the three interval boxes into the interval and restarts the countdown.
void RecomputeInterval(BackupContext& context);
// One scheduler minute; runs a backup when it falls due.
void Tick(BackupContext& context);
// The "Start Backup Now" command. Ignored while a run is in progress.
void StartNow(BackupContext& context);
// The stop request of the start button while a run is in progress.
void RequestCancel(RunState& run);

enum class RunOutcome {
    Finished,
    Cancelled,
    LockedElsewhere,     // another process holds the run lock; nothing was started
    AlreadyRunning,      // a run is in progress in this process; nothing was started
    DestinationRefused,  // the destination cannot take a backup (DestinationProblem); nothing was started
};
// True for the outcomes after which no run took place.
bool NothingStarted(RunOutcome outcome);
// One backup run over the whole entry list (the automatic-start wait included
// when the command line says so).
RunOutcome RunBackup(BackupContext& context);
