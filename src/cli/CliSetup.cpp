#include "cli/CliSetup.h"

#include "engine/BackupLayout.h"
#include "engine/ProjectSave.h"
#include "storage/FirstStart.h"
#include "storage/HistoryLog.h"
#include "storage/OptionString.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"

#include <stdexcept>

namespace {
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

// The project as it is on disk; written back normalised when it can be and
// the command may write it.
void LoadProjectForRun(const std::string& projectPath, ProjectUse use, LoadedSetup& loaded) {
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
        if (use == ProjectUse::ReadAndNormalise) WriteBackNormalised(projectPath, setup);
    } catch (const FileError& error) {
        loaded.saveFailures.push_back(error);
    }
    setup.currentProjectFile = projectPath;
    // The run writes back only its own lines; the rest of the file is the editor's.
    setup.savesRunStateOnly = true;
}

}  // namespace

LoadedSetup PrepareSetup(const std::optional<std::string>& projectArgument, CTranslation& texts,
                         std::ostream& err, ProjectUse use) {
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
    LoadProjectForRun(projectArgument.value_or(defaultProject), use, loaded);
    BackupSetup& setup = loaded.setup;
    setup.optionFlags = settings.GetOptions(&failure);
    KeepFailure(failure, loaded.saveFailures);
    setup.backupMode = OptionIsNotZero(setup.optionFlags, Option::kIncrementalMode) ? 1 : 0;
    return loaded;
}

std::optional<LoadedSetup> PrepareUsableSetup(const std::optional<std::string>& projectArgument,
                                              CTranslation& texts, std::ostream& err, ProjectUse use,
                                              std::string_view consequence) {
    LoadedSetup loaded;
    try {
        loaded = PrepareSetup(projectArgument, texts, err, use);
    } catch (const std::exception& error) {
        err << "tarnwick-backup-cli: " << error.what() << '\n';
        return std::nullopt;
    }
    if (const std::string problem = DestinationProblem(loaded.setup.destination); !problem.empty()) {
        err << "tarnwick-backup-cli: " << loaded.setup.currentProjectFile << ": " << problem << "; "
            << consequence << '\n';
        return std::nullopt;
    }
    return loaded;
}

std::string FailureLine(const FileError& failure) {
    return failure.path() + ": " + FileErrorReason(failure);
}
