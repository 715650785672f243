#pragma once

#include "storage/PowerClass.h"

#include "util/FileError.h"

#include <optional>
#include <string>

// Per-user files that the desktop program and the CLI provision alike from the
// templates beside the executable, after PowerClass::ResolveSettingsFile.

// "Path" = "---" means no default project yet: copy the template project to
// $XDG_CONFIG_HOME/Tarnwick/tarnwick_backup.tarn (never over an existing file)
// and store that path. Returns the value of "Path". When storing the path fails
// and saveFailure is given, its FileError goes there and the provisioned path is
// returned all the same (a run must not depend on saving the settings).
std::string ProvisionDefaultProject(PowerClass& settings, std::optional<FileError>* saveFailure = nullptr);

// Copies the history template into the settings folder when no log is there.
void ProvisionHistoryLog(PowerClass& settings);
