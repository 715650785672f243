#include "language/FileErrorReport.h"

#include "dialogs/Dialogs.h"
#include "i18n/CTranslation.h"
#include "util/SafeFormat.h"

#include <QFile>

void ReportFileError(QWidget* parent, Dialogs& dialogs, const CTranslation& texts, const std::string& path) {
    const QString name = QFile::decodeName(QByteArray::fromStdString(path));
    const std::string format = texts.GetText(TextId::FileErrorMessage);
    // Without its text the message still has to name the file.
    const QString message = format == "---" ? name : QString::fromStdString(FormatText(format, path));
    dialogs.ShowMessage(parent, message, QString::fromStdString(texts.GetText(TextId::MessageCaption)));
}
