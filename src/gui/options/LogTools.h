#pragma once

#include "util/TimeText.h"

#include <string>
#include <vector>

class CTranslation;
class Dialogs;
class QWidget;

// The lines a log printout holds: the log's lines, an empty line, text 600 and
// text 610 with the current date and time. Throws FileError when the log
// cannot be read.
std::vector<std::string> BuildPrintLineList(const std::string& logPath, const CTranslation& texts,
                                            const Clock& clock = SystemClock());

// Show, empty and print the history log for the options dialog. Each command
// reports its own file errors, naming the file.
class LogTools {
public:
    LogTools(QWidget* parent, Dialogs& dialogs, const CTranslation& texts, std::string logPath,
             const Clock& clock = SystemClock());

    // Opens the log in the desktop's viewer; the outcome is not reported.
    void Show();
    // Asks first; on Yes leaves the header only. Returns true when emptied.
    bool Empty();
    // Returns true when the whole log was printed.
    bool Print();

    // What the last Print handed to the printer.
    const std::vector<std::string>& PrintLineList() const { return printLines_; }

private:
    void ReportFileError(const std::string& path);

    QWidget* parent_;
    Dialogs& dialogs_;
    const CTranslation& texts_;
    std::string logPath_;
    const Clock& clock_;
    std::vector<std::string> printLines_;
};
