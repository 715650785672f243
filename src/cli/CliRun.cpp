#include "cli/CliRun.h"

#include "cli/CancelSignal.h"
#include "cli/StreamReporter.h"
#include "cli/TerminalWindow.h"
#include "engine/BackupEngine.h"
#include "engine/BackupLayout.h"
#include "engine/RunLock.h"
#include "engine/RunReport.h"
#include "sources/Entries.h"
#include "storage/FirstStart.h"
#include "storage/OptionString.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"
#include "util/FileError.h"

#include <ostream>
#include <stdexcept>

namespace {
struct LoadedSetup {
    BackupSetup setup;
    std::string settingsFolder;
    std::string programFolder;
};

// Settings, per-user files and the project, as the desktop program prepares
// them at start-up. Throws std::runtime_error with the message for the user.
LoadedSetup PrepareSetup(const std::optional<std::string>& projectArgument, CTranslation& texts,
                         std::ostream& err) {
    PowerClass settings;
    settings.ResolveSettingsFile();
    const std::string defaultProject = ProvisionDefaultProject(settings);
    ProvisionHistoryLog(settings);
    try {
        texts.Load();
    } catch (const FileError& error) {
        err << "warning: translation file " << error.path() << " cannot be read; texts show as \"---\"\n";
    }

    LoadedSetup loaded;
    loaded.settingsFolder = settings.SettingsFolder();
    loaded.programFolder = settings.ProgramFolder();
    const std::string projectPath = projectArgument.value_or(defaultProject);
    BackupSetup& setup = loaded.setup;
    switch (LoadProject(projectPath, setup)) {
        case ProjectLoad::Loaded:
            break;
        case ProjectLoad::Missing:
            throw std::runtime_error("project file " + projectPath + " does not exist");
        case ProjectLoad::NotAProject:
            throw std::runtime_error(projectPath + " is not a " + std::string(kProjectHeader) + " file");
    }
    setup.currentProjectFile = projectPath;
    setup.optionFlags = settings.GetOptions();
    setup.backupMode = OptionIsNotZero(setup.optionFlags, Option::kIncrementalMode) ? 1 : 0;
    return loaded;
}

bool CountsReported(const BackupSetup& setup) {
    return setup.backupMode != 0 || IsFtpDestination(setup.destination);
}
}  // namespace

int RunProjectOnce(const std::optional<std::string>& projectArgument, std::ostream& out, std::ostream& err) {
    CTranslation texts;
    LoadedSetup loaded;
    try {
        loaded = PrepareSetup(projectArgument, texts, err);
    } catch (const FileError& error) {
        err << "tarnwick-backup-cli: " << error.what() << '\n';
        return ExitCode::kUsage;
    } catch (const std::exception& error) {
        err << "tarnwick-backup-cli: " << error.what() << '\n';
        return ExitCode::kUsage;
    }

    // Refused before anything starts, as an unloadable project is: the run
    // would write where the user never meant it to.
    if (const std::string problem = DestinationProblem(loaded.setup.destination); !problem.empty()) {
        err << "tarnwick-backup-cli: " << loaded.setup.currentProjectFile << ": " << problem
            << "; nothing was done\n";
        return ExitCode::kUsage;
    }

    RunState run;
    TerminalWindow window(run, err);
    StreamReporter reporter(err);
    BackupContext context{loaded.setup,         run, window, texts, reporter, loaded.settingsFolder,
                          loaded.programFolder, ""};
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

    const std::string endLine = run.reportLines.empty() ? std::string() : run.reportLines.back();
    out << SummaryText(texts, run, CountsReported(loaded.setup), endLine) << '\n' << std::flush;
    if (CancelSignalReceived() || outcome == RunOutcome::Cancelled) return ExitCode::kInterrupted;
    return run.failures.empty() ? ExitCode::kClean : ExitCode::kFailures;
}
