#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QDialog;
class QPrinter;
class QWidget;

// Every modal thing the desktop provides goes through here, so each command can
// run headless in tests with scripted answers. Paths are returned as the user
// chose them; callers turn them into bytes with QFile::encodeName.
class Dialogs {
public:
    enum class Buttons { Ok, YesNo };
    enum class Icon { None, Question, Warning, Information };
    enum class Answer { Ok, Yes, No };

    virtual ~Dialogs() = default;

    virtual Answer ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                               Buttons buttons = Buttons::Ok, Icon icon = Icon::None) = 0;
    // A message with an OK button that does not wait for it: the program goes
    // on (the scheduler keeps its minutes) while the notice stays open beside
    // the parent until the user closes it. A notice with the same text and
    // caption that is still open is brought forward instead of shown twice, so
    // a fault repeated every minute does not pile up windows.
    virtual void ShowNotice(QWidget* parent, const QString& text, const QString& caption, Icon icon) = 0;
    // filter in Qt form, e.g. "All files (*)". Empty list: cancelled.
    virtual QStringList OpenFiles(QWidget* parent, const QString& filter, const QString& startFolder,
                                  bool several) = 0;
    virtual std::optional<QString> SaveFile(QWidget* parent, const QString& filter,
                                            const QString& defaultSuffix, const QString& initialName) = 0;
    virtual std::optional<QString> BrowseFolder(QWidget* parent, const QString& title) = 0;
    // The desktop's default handler for a file or an address; false when none.
    virtual bool OpenWithDesktop(const QString& pathOrUrl) = 0;
    // Lets the user choose a printer and its paper; false when cancelled.
    virtual bool ChoosePrinter(QWidget* parent, QPrinter& printer) = 0;
    // Runs one of the program's own modal dialogs; returns its result code.
    virtual int Run(QDialog& dialog) = 0;
};
