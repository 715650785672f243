#include "options/LogTools.h"

#include "dialogs/Dialogs.h"
#include "i18n/CTranslation.h"
#include "language/FileErrorReport.h"
#include "options/LogPrinter.h"
#include "storage/HistoryLog.h"
#include "util/FileError.h"
#include "util/TextFile.h"

#include <QFile>

namespace {
QString Text(const CTranslation& texts, TextId id) {
    return QString::fromStdString(texts.GetText(id));
}
}  // namespace

std::vector<std::string> BuildPrintLineList(const std::string& logPath, const CTranslation& texts,
                                            const Clock& clock) {
    std::vector<std::string> lines = ReadLines(logPath);
    lines.emplace_back();
    lines.push_back(texts.GetText(TextId::PrintFooter));
    lines.push_back(texts.GetText(TextId::PrintedAt) + " " + GetDateTimeText(clock));
    return lines;
}

LogTools::LogTools(QWidget* parent, Dialogs& dialogs, const CTranslation& texts, std::string logPath,
                   const Clock& clock)
    : parent_(parent), dialogs_(dialogs), texts_(texts), logPath_(std::move(logPath)), clock_(clock) {}

void LogTools::Show() {
    dialogs_.OpenWithDesktop(QFile::decodeName(QByteArray::fromStdString(logPath_)));
}

bool LogTools::Empty() {
    const QString caption = Text(texts_, TextId::MessageCaption);
    if (dialogs_.ShowMessage(parent_, Text(texts_, TextId::EmptyLogQuestion), caption,
                             Dialogs::Buttons::YesNo, Dialogs::Icon::Question) != Dialogs::Answer::Yes)
        return false;
    try {
        WriteHistoryHeader(logPath_);
    } catch (const FileError& error) {
        ReportFileError(error.path());
        return false;
    }
    dialogs_.ShowMessage(parent_, Text(texts_, TextId::LogEmptied), caption);
    return true;
}

bool LogTools::Print() {
    printLines_.clear();
    try {
        printLines_ = BuildPrintLineList(logPath_, texts_, clock_);
    } catch (const FileError& error) {
        ReportFileError(error.path());
        return false;
    }
    if (PrintLines(parent_, dialogs_, printLines_)) return true;
    dialogs_.ShowMessage(parent_, Text(texts_, TextId::PrintFailed), Text(texts_, TextId::MessageCaption));
    return false;
}

void LogTools::ReportFileError(const std::string& path) {
    ::ReportFileError(parent_, dialogs_, texts_, path);
}
