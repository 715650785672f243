#pragma once

#include "dialogs/Dialogs.h"
#include "i18n/CTranslation.h"
#include "storage/PowerClass.h"

class QWidget;

// The main window's Language Selection command: shows the language dialog with
// the stored "Language" and the window's text 1; writes "Language" and returns
// true only when the choice differs (the window then re-initialises).
bool RunLanguageCommand(QWidget* parent, Dialogs& dialogs, PowerClass& settings, const CTranslation& texts);
