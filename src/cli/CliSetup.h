#pragma once

#include "i18n/CTranslation.h"
#include "storage/BackupSetup.h"
#include "util/FileError.h"

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

struct LoadedSetup {
    BackupSetup setup;
    std::string settingsFolder;
    std::string programFolder;
    // Saves of the settings or the project that failed while preparing: failures
    // of the run, never a reason not to back up.
    std::vector<FileError> saveFailures;
};

enum class ProjectUse {
    ReadAndNormalise,  // written back in its normal form, as the window does on opening it
    ReadOnly,          // left exactly as it is
};

// Settings, per-user files and the project (default: the setting "Path"), as
// the desktop program prepares them at start-up. Throws std::runtime_error or FileError with the message for
// the user; warnings go to err.
LoadedSetup PrepareSetup(const std::optional<std::string>& projectArgument, CTranslation& texts,
                         std::ostream& err, ProjectUse use = ProjectUse::ReadAndNormalise);

// The same, refused with one line on err (nullopt) when the project cannot be
// loaded or its destination is unusable (see DestinationProblem); the line
// ends with consequence ("nothing was done"). The command then exits with
// ExitCode::kUsage.
std::optional<LoadedSetup> PrepareUsableSetup(const std::optional<std::string>& projectArgument,
                                              CTranslation& texts, std::ostream& err, ProjectUse use,
                                              std::string_view consequence);

// "<path>: <reason>", as failures are listed.
std::string FailureLine(const FileError& failure);
