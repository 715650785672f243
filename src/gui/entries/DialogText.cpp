#include "entries/DialogText.h"

#include "util/FileError.h"

QString PlainControlText(const QString& text) {
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        // "&x" shows "x" underlined; "&&" shows one "&".
        if (text[i] == QLatin1Char('&') && ++i == text.size()) break;
        plain += text[i];
    }
    plain = plain.trimmed();
    while (plain.endsWith(QLatin1Char(':'))) plain = plain.chopped(1).trimmed();
    return plain;
}

void LoadDialogTexts(CTranslation& texts) {
    try {
        texts.Load();
    } catch (const FileError&) {
        // Every text reads "---"; the dialog stays usable.
    }
}
