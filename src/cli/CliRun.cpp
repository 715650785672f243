#include "cli/CliRun.h"

#include "cli/CancelSignal.h"
#include "cli/CliSetup.h"
#include "cli/StreamReporter.h"
#include "cli/TerminalWindow.h"
#include "engine/BackupEngine.h"
#include "engine/ProjectSave.h"
#include "engine/RunLock.h"
#include "engine/RunReport.h"
#include "sources/Entries.h"
#include "storage/HistoryLog.h"
#include "storage/OptionString.h"
#include "util/FileError.h"

#include <optional>
#include <ostream>
#include <vector>

namespace {
// The saves that failed before the run count among its failures (the run
// starts its list afresh) and go to the history log when the log is on.
void AddSaveFailures(const LoadedSetup& loaded, const CTranslation& texts, RunState& run) {
    if (loaded.saveFailures.empty()) return;
    std::vector<std::string> lines;
    for (const FileError& failure : loaded.saveFailures) lines.push_back(FailureLine(failure));
    run.failures.insert(run.failures.begin(), lines.begin(), lines.end());
    if (!OptionIsOne(loaded.setup.optionFlags, Option::kWriteLog)) return;
    const std::string logPath = HistoryLogPath(loaded.settingsFolder, loaded.programFolder);
    try {
        for (const std::string& line : lines)
            AppendToHistory(logPath, texts.GetText(TextId::LogFailure) + line);
    } catch (const FileError&) {
        // Already on stderr and counted; a log that cannot be written adds nothing.
    }
}

bool CountsReported(const BackupSetup& setup) {
    return setup.backupMode != 0 || IsFtpDestination(setup.destination);
}
}  // namespace

int RunProjectOnce(const std::optional<std::string>& projectArgument, std::ostream& out, std::ostream& err) {
    CTranslation texts;
    // Refused before anything starts when the destination is unusable, as an
    // unloadable project is: the run would write where the user never meant it to.
    std::optional<LoadedSetup> prepared =
        PrepareUsableSetup(projectArgument, texts, err, ProjectUse::ReadAndNormalise, "nothing was done");
    if (!prepared) return ExitCode::kUsage;
    LoadedSetup& loaded = *prepared;

    RunState run;
    TerminalWindow window(run, err);
    StreamReporter reporter(err);
    BackupContext context{loaded.setup,         run, window, texts, reporter, loaded.settingsFolder,
                          loaded.programFolder, ""};
    for (const FileError& failure : loaded.saveFailures)
        reporter.ReportError(failure.path(), FileErrorReason(failure));
    if (IsFtpDestination(loaded.setup.destination)) run.ftp = DecodeFtpDestination(loaded.setup.destination);
    // Due now, as on the tick that reaches zero.
    loaded.setup.minutesRemaining = 0;

    InstallCancelSignalHandlers();
    const RunOutcome outcome = RunBackup(context);
    window.Flush();
    if (outcome == RunOutcome::LockedElsewhere) {
        err << "tarnwick-backup-cli: another backup run is in progress ("
            << RunLock::LockFilePath(loaded.settingsFolder) << " is locked); nothing was done\n";
        return ExitCode::kLocked;
    }
    if (outcome == RunOutcome::DestinationRefused) return ExitCode::kUsage;

    AddSaveFailures(loaded, texts, run);
    const std::string endLine = run.reportLines.empty() ? std::string() : run.reportLines.back();
    out << SummaryText(texts, run, CountsReported(loaded.setup), endLine) << '\n' << std::flush;
    if (CancelSignalReceived() || outcome == RunOutcome::Cancelled) return ExitCode::kInterrupted;
    return run.failures.empty() ? ExitCode::kClean : ExitCode::kFailures;
}
