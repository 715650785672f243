#pragma once

#include "dialogs/Dialogs.h"
#include "dialogs/QtDialogs.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

class QPrinter;

// Dialogs with answers queued by the test and every request recorded. A request
// with no queued answer is answered like a cancel (message boxes: Ok / No).
class ScriptedDialogs : public Dialogs {
public:
    struct Message {
        QString text;
        QString caption;
        Buttons buttons;
        Icon icon;
        bool notice = false;  // shown with ShowNotice: the program did not wait for it
    };
    struct FileRequest {
        QString filter;
        QString startFolder;
        bool several;
    };

    // Queued answers, taken front first.
    std::deque<Answer> messageAnswers;
    std::deque<QStringList> openFilesAnswers;
    std::deque<std::optional<QString>> saveFileAnswers;
    std::deque<std::optional<QString>> browseFolderAnswers;
    // Sets up the printer as the user would in the print dialog; false cancels.
    std::deque<std::function<bool(QPrinter&)>> printerAnswers;
    // Works a program dialog shown with Run(): it is shown (offscreen) before
    // the script runs; the script fills fields and clicks buttons. Run returns
    // the dialog's result code afterwards.
    std::deque<std::function<void(QDialog&)>> dialogScripts;
    // Runs while a modal message is up, as a real one's event loop would run
    // the window's timers meanwhile.
    std::function<void()> whileMessageShown;

    // What was asked.
    std::vector<Message> messages;
    std::vector<FileRequest> openFileRequests;
    std::vector<QString> saveFileFilters;
    std::vector<QString> browseFolderTitles;
    std::vector<QString> openedWithDesktop;
    int printerRequests = 0;
    std::vector<QString> dialogsRun;  // object names of the dialogs shown with Run()

    Answer ShowMessage(QWidget* parent, const QString& text, const QString& caption, Buttons buttons,
                       Icon icon) override;
    // Recorded with the messages and really shown (offscreen) as the desktop
    // shows it, so a test can see it stay open while the program goes on.
    void ShowNotice(QWidget* parent, const QString& text, const QString& caption, Icon icon) override;
    QStringList OpenFiles(QWidget* parent, const QString& filter, const QString& startFolder,
                          bool several) override;
    std::optional<QString> SaveFile(QWidget* parent, const QString& filter, const QString& defaultSuffix,
                                    const QString& initialName) override;
    std::optional<QString> BrowseFolder(QWidget* parent, const QString& title) override;
    bool OpenWithDesktop(const QString& pathOrUrl) override;
    bool ChoosePrinter(QWidget* parent, QPrinter& printer) override;
    int Run(QDialog& dialog) override;

    // Texts of all recorded messages, for readable assertions.
    QStringList MessageTexts() const;

private:
    QtDialogs desktop_;
};
