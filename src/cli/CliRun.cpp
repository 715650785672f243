#include "cli/CliRun.h"

#include "cli/CancelSignal.h"
#include "cli/StreamReporter.h"
#include "cli/TerminalWindow.h"
#include "engine/BackupEngine.h"
#include "engine/BackupLayout.h"
#include "engine/ProjectSave.h"
#include "engine/RunLock.h"
#include "engine/RunReport.h"
#include "sources/Entries.h"
#include "storage/FirstStart.h"
#include "storage/OptionString.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"
#include "util/FileError.h"

#include <optional>
#include <ostream>
#include <stdexcept>
#include <vector>

namespace {
struct LoadedSetup {
    BackupSetup setup;
    std::string settingsFolder;
    std::string programFolder;
    // Saves of the settings or the project that failed while preparing: failures
    // of the run, never a reason not to back up.
    std::vector<FileError> saveFailures;
};

void KeepFailure(std::optional<FileError>& failure, std::vector<FileError>& failures) {
    if (failure) failures.push_back(*failure);
    failure.reset();
}

// Nothing is written into a file that is not a settings file: one without the
// options is damaged or something else.
void RequireUsableSettings(const PowerClass& settings) {
    if (!settings.HasSetting("Options"))
        throw std::runtime_error("settings file " + settings.SettingsFile() +
                                 " holds no \"Options\" setting; it is damaged or not a settings file");
}

// The project as it is on disk; written back normalised when it can be.
void LoadProjectForRun(const std::string& projectPath, LoadedSetup& loaded) {
    BackupSetup& setup = loaded.setup;
    switch (ReadProject(projectPath, setup)) {
        case ProjectLoad::Loaded:
            break;
        case ProjectLoad::Missing:
            throw std::runtime_error("project file " + projectPath + " does not exist");
        case ProjectLoad::NotAProject:
            throw std::runtime_error(projectPath + " is not a " + std::string(kProjectHeader) + " file");
    }
    try {
        WriteBackNormalised(projectPath, setup);
    } catch (const FileError& error) {
        loaded.saveFailures.push_back(error);
    }
    setup.currentProjectFile = projectPath;
    // The run writes back only its own lines; the rest of the file is the editor's.
    setup.savesRunStateOnly = true;
}

// Settings, per-user files and the project, as the desktop program prepares
// them at start-up. Throws std::runtime_error with the message for the user.
LoadedSetup PrepareSetup(const std::optional<std::string>& projectArgument, CTranslation& texts,
                         std::ostream& err) {
    PowerClass settings;
    settings.ResolveSettingsFile();
    RequireUsableSettings(settings);
    LoadedSetup loaded;
    std::optional<FileError> failure;
    const std::string defaultProject = ProvisionDefaultProject(settings, &failure);
    KeepFailure(failure, loaded.saveFailures);
    ProvisionHistoryLog(settings);
    try {
        texts.Load();
    } catch (const FileError& error) {
        err << "warning: translation file " << error.path() << " cannot be read; texts show as \"---\"\n";
    }

    loaded.settingsFolder = settings.SettingsFolder();
    loaded.programFolder = settings.ProgramFolder();
    LoadProjectForRun(projectArgument.value_or(defaultProject), loaded);
    BackupSetup& setup = loaded.setup;
    setup.optionFlags = settings.GetOptions(&failure);
    KeepFailure(failure, loaded.saveFailures);
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
    // Saves that failed while preparing are failures of this run, never a
    // reason not to back up.
    for (const FileError& failure : loaded.saveFailures) {
        reporter.ReportError(failure.path(), FileErrorReason(failure));
        run.failuresBeforeRun.push_back(failure.path() + ": " + FileErrorReason(failure));
    }
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
