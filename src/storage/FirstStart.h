#pragma once

#include "storage/PowerClass.h"

#include <string>

// Per-user files that the desktop program and the CLI provision alike from the
// templates beside the executable, after PowerClass::ResolveSettingsFile.

// "Path" = "---" means no default project yet: copy the template project to
// $XDG_CONFIG_HOME/Tarnwick/tarnwick_backup.tarn (never over an existing file)
// and store that path. Returns the value of "Path".
std::string ProvisionDefaultProject(PowerClass& settings);

// Copies the history template into the settings folder when no log is there.
void ProvisionHistoryLog(PowerClass& settings);
