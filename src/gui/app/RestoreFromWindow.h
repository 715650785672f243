#pragma once

#include <string>

class CTranslation;
class Dialogs;
class QWidget;
struct BackupSetup;

// File > Restore...: runs the restore dialog for the project as the window
// holds it and tells the user, as after a run, what was restored and what failed.
void RestoreFromWindow(QWidget* window, Dialogs& dialogs, const CTranslation& texts, const BackupSetup& setup,
                       const std::string& settingsFolder);
