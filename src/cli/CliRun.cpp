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
#include "storage/OptionString.h"
#include "util/FileError.h"

#include <optional>
#include <ostream>

namespace {
bool CountsReported(const BackupSetup& setup) {
    return setup.backupMode != 0 || IsRemoteDestination(setup.destination);
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
    // On a terminal one line is rewritten in place and shows the progress;
    // elsewhere (a log, a pipe) plain status lines follow one another.
    const std::optional<std::size_t> columns = TerminalWidthOf(err);
    std::optional<LiveStatusLine> live;
    if (columns) {
        live.emplace(err, *columns);
        window.UseLiveLine(*live, texts);
    }
    StreamReporter reporter(err, live ? &*live : nullptr);
    BackupContext context{loaded.setup,         run, window, texts, reporter, loaded.settingsFolder,
                          loaded.programFolder, ""};
    context.showProgress = live.has_value();
    // Saves that failed while preparing are failures of this run, never a
    // reason not to back up.
    for (const FileError& failure : loaded.saveFailures) {
        reporter.ReportError(failure.path(), FileErrorReason(failure));
        run.failuresBeforeRun.push_back(FailureLine(failure));
    }
    if (IsRemoteDestination(loaded.setup.destination))
        run.ftp = DecodeFtpDestination(loaded.setup.destination);
    // Due now, as on the tick that reaches zero.
    loaded.setup.minutesRemaining = 0;

    InstallCancelSignalHandlers();
    const RunOutcome outcome = RunBackup(context);
    window.Flush();
    if (live) live->Finish();
    if (outcome == RunOutcome::LockedElsewhere) {
        err << "tarnwick-backup-cli: another backup run is in progress ("
            << RunLock::LockFilePath(loaded.settingsFolder) << " is locked); nothing was done\n";
        return ExitCode::kLocked;
    }
    if (outcome == RunOutcome::DestinationRefused) return ExitCode::kUsage;

    const std::string endLine = run.reportLines.empty() ? std::string() : run.reportLines.back();
    out << SummaryText(texts, run, CountsReported(loaded.setup), endLine) << '\n' << std::flush;
    if (CancelSignalReceived() || outcome == RunOutcome::Cancelled) return ExitCode::kInterrupted;
    return run.failures.empty() ? ExitCode::kClean : ExitCode::kFailures;
}
