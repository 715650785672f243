#include "ScriptedDialogs.h"

#include <QApplication>

namespace {
template <typename T>
std::optional<T> TakeFront(std::deque<T>& queue) {
    if (queue.empty()) return std::nullopt;
    T value = std::move(queue.front());
    queue.pop_front();
    return value;
}
}  // namespace

Dialogs::Answer ScriptedDialogs::ShowMessage(QWidget*, const QString& text, const QString& caption,
                                             Buttons buttons, Icon icon) {
    messages.push_back({text, caption, buttons, icon});
    if (whileMessageShown) whileMessageShown();
    if (auto answer = TakeFront(messageAnswers)) return *answer;
    return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
}

void ScriptedDialogs::ShowNotice(QWidget* parent, const QString& text, const QString& caption, Icon icon) {
    messages.push_back({text, caption, Buttons::Ok, icon, true});
    desktop_.ShowNotice(parent, text, caption, icon);
}

QStringList ScriptedDialogs::OpenFiles(QWidget*, const QString& filter, const QString& startFolder,
                                       bool several) {
    openFileRequests.push_back({filter, startFolder, several});
    return TakeFront(openFilesAnswers).value_or(QStringList());
}

std::optional<QString> ScriptedDialogs::SaveFile(QWidget*, const QString& filter, const QString&,
                                                 const QString&) {
    saveFileFilters.push_back(filter);
    return TakeFront(saveFileAnswers).value_or(std::nullopt);
}

std::optional<QString> ScriptedDialogs::BrowseFolder(QWidget*, const QString& title) {
    browseFolderTitles.push_back(title);
    return TakeFront(browseFolderAnswers).value_or(std::nullopt);
}

bool ScriptedDialogs::OpenWithDesktop(const QString& pathOrUrl) {
    openedWithDesktop.push_back(pathOrUrl);
    return true;
}

bool ScriptedDialogs::ChoosePrinter(QWidget*, QPrinter& printer) {
    ++printerRequests;
    auto answer = TakeFront(printerAnswers);
    return answer && (*answer)(printer);
}

int ScriptedDialogs::Run(QDialog& dialog) {
    dialogsRun.push_back(dialog.objectName());
    auto script = TakeFront(dialogScripts);
    if (!script) return QDialog::Rejected;
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    QApplication::processEvents();
    (*script)(dialog);
    QApplication::processEvents();
    dialog.hide();
    return dialog.result();
}

QStringList ScriptedDialogs::MessageTexts() const {
    QStringList texts;
    for (const Message& message : messages) texts << message.text;
    return texts;
}
