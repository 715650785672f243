#pragma once

#include "i18n/CTranslation.h"

#include <QString>

// A translation text as a widget shows it.
inline QString DialogText(const CTranslation& texts, TextId id) {
    return QString::fromUtf8(texts.GetText(id));
}

// A control's text as plain words, for a window title or a message naming the
// control: without its mnemonic marks ("&&" stays one "&") and without a
// trailing colon.
QString PlainControlText(const QString& text);

// Loads the window's texts. A translation file that cannot be read was reported
// by the main window at start; a dialog then shows "---" rather than fail.
void LoadDialogTexts(CTranslation& texts);
