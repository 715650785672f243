#pragma once

#include "storage/BackupSetup.h"
#include "storage/PowerClass.h"

#include <string>
#include <string_view>

// The command the session's autostart entry runs: the quoted executable path, a
// blank and the literal automatic-start marker "%1". Characters that are special
// inside a quoted desktop-entry argument are escaped.
std::string AutostartCommand(std::string_view executablePath);

// The start-with-session check box: creates the autostart entry when startWithSession
// is 0, deletes it when 1, then stores position 1 of "Options". Returns the new
// state. When the entry cannot be written or deleted the FileError propagates
// before "Options" changes, so the box never claims what the desktop will not do.
int ToggleStartWithSession(PowerClass& settings, BackupSetup& setup, int startWithSession,
                           std::string_view executablePath);

// The mode radio buttons: position 0 of "Options", 0 full, 1 incremental.
void StoreBackupMode(PowerClass& settings, BackupSetup& setup, int backupMode);
