#include "app/MainMenu.h"

#include "app/CommandIds.h"
#include "i18n/CTranslation.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>

namespace {

struct ItemText {
    int commandId;
    TextId text;
};

constexpr ItemText kItemTexts[] = {
    {CommandId::OpenProject, TextId::MenuOpenProject},
    {CommandId::SaveProject, TextId::MenuSaveProject},
    {CommandId::SaveProjectAs, TextId::MenuSaveProjectAs},
    {CommandId::Restore, TextId::MenuRestore},
    {CommandId::Language, TextId::MenuLanguage},
    {CommandId::Exit, TextId::MenuExit},
    {CommandId::MinimizeToTray, TextId::MenuMinimizeToTray},
    {CommandId::StartBackupNow, TextId::MenuStartBackupNow},
    {CommandId::Options, TextId::MenuOptions},
    {CommandId::AddFile, TextId::MenuAddFile},
    {CommandId::AddFolder, TextId::MenuAddFolder},
    {CommandId::AddSpecialFolder, TextId::MenuAddSpecialFolder},
    {CommandId::AddFileException, TextId::MenuAddFileException},
    {CommandId::AddFolderException, TextId::MenuAddFolderException},
    {CommandId::RemoveEntry, TextId::MenuRemoveEntry},
    {CommandId::ShowHelp, TextId::MenuShowHelp},
    {CommandId::Website, TextId::MenuWebsite},
    {CommandId::About, TextId::MenuAbout},
};

QMenu* AddPopup(QMenuBar* bar, const char* objectName) {
    auto* popup = new QMenu(bar);
    popup->setObjectName(QString::fromLatin1(objectName));
    bar->addMenu(popup);
    return popup;
}

}  // namespace

MainMenu::MainMenu(QWidget* window)
    : QObject(window),
      bar_(new QMenuBar(window)),
      file_(AddPopup(bar_, "fileMenu")),
      functions_(AddPopup(bar_, "functionsMenu")),
      help_(AddPopup(bar_, "helpMenu")) {
    bar_->setObjectName(QStringLiteral("menuBar"));
    bar_->setNativeMenuBar(false);

    AddItem(file_, CommandId::OpenProject, "openProjectAction", "open");
    AddItem(file_, CommandId::SaveProject, "saveProjectAction", "save");
    AddItem(file_, CommandId::SaveProjectAs, "saveProjectAsAction", "save-as");
    file_->addSeparator();
    AddItem(file_, CommandId::Restore, "restoreAction", "restore");
    file_->addSeparator();
    AddItem(file_, CommandId::Language, "languageAction", "language");
    file_->addSeparator();
    AddItem(file_, CommandId::Exit, "exitAction", "exit");

    AddItem(functions_, CommandId::MinimizeToTray, "minimizeToTrayAction", "tray");
    AddItem(functions_, CommandId::StartBackupNow, "startBackupNowAction", "start");
    functions_->addSeparator();
    AddItem(functions_, CommandId::Options, "optionsAction", "options");
    functions_->addSeparator();
    AddItem(functions_, CommandId::AddFile, "addFileAction", "add");
    AddItem(functions_, CommandId::AddFolder, "addFolderAction", "add");
    AddItem(functions_, CommandId::AddSpecialFolder, "addSpecialFolderAction", "add");
    functions_->addSeparator();
    AddItem(functions_, CommandId::AddFileException, "addFileExceptionAction", "add");
    AddItem(functions_, CommandId::AddFolderException, "addFolderExceptionAction", "add");
    functions_->addSeparator();
    AddItem(functions_, CommandId::RemoveEntry, "removeEntryAction", "remove");

    AddItem(help_, CommandId::ShowHelp, "showHelpAction", "help");
    help_->addSeparator();
    AddItem(help_, CommandId::Website, "websiteAction", "website");
    AddItem(help_, CommandId::About, "aboutAction", "about");
}

void MainMenu::AddItem(QMenu* popup, int commandId, const char* objectName, const char* icon) {
    QAction* action =
        popup->addAction(QIcon(QStringLiteral(":/icons/menu-%1.svg").arg(QLatin1String(icon))), {});
    action->setObjectName(QString::fromLatin1(objectName));
    action->setProperty("commandId", commandId);
    action->setIconVisibleInMenu(true);
    connect(action, &QAction::triggered, this, [this, commandId] { emit CommandChosen(commandId); });
    actions_[commandId] = action;
}

QAction* MainMenu::Action(int commandId) const {
    const auto found = actions_.find(commandId);
    return found == actions_.end() ? nullptr : found->second;
}

void MainMenu::SetTexts(const CTranslation& texts) {
    file_->setTitle(QString::fromUtf8(texts.GetText(TextId::MenuFile)));
    functions_->setTitle(QString::fromUtf8(texts.GetText(TextId::MenuFunctions)));
    help_->setTitle(QString::fromUtf8(texts.GetText(TextId::MenuHelp)));
    for (const ItemText& item : kItemTexts)
        actions_.at(item.commandId)
            ->setText(QStringLiteral("  ") + QString::fromUtf8(texts.GetText(item.text)));
}
