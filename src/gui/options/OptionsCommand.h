#pragma once

#include "dialogs/Dialogs.h"
#include "storage/BackupSetup.h"
#include "storage/PowerClass.h"

class QWidget;

// The main window's Options command: shows the options dialog and, on OK, joins
// the window's positions 0-1 with the dialog's last 13 characters and writes
// "Options". Returns true when it stored a new option string (the window then
// refreshes its countdown and its break-down switch).
bool RunOptionsCommand(QWidget* parent, Dialogs& dialogs, BackupSetup& setup, PowerClass& settings);
