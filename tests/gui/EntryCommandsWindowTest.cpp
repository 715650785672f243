#include "ScriptedDialogs.h"
#include "app/CBackupDlg.h"
#include "storage/FirstStart.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"
#include "support/TempHome.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

// The entry commands through the real main window and its buttons.

namespace {

class EntryCommandsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainWindowEnvironment environment;
        environment.programFolder = BinFolder();
        environment.executablePath = BinFolder() + "/tarnwick-backup";
        environment.commandLine = "tarnwick-backup";
        environment.trayAvailable = [] { return false; };
        window = std::make_unique<CBackupDlg>(dialogs, environment);
        list = window->findChild<QTreeWidget*>("entryList");
        ASSERT_NE(list, nullptr);
        dialogs.messages.clear();
    }

    void Press(const char* button) {
        auto* widget = window->findChild<QPushButton*>(QString::fromLatin1(button));
        ASSERT_NE(widget, nullptr) << button;
        widget->click();
    }

    QStringList Rows() const {
        QStringList rows;
        for (int i = 0; i < list->topLevelItemCount(); ++i) rows << list->topLevelItem(i)->text(0);
        return rows;
    }

    BackupSetup SavedProject() const {
        BackupSetup saved;
        LoadProject(window->Setup().currentProjectFile, saved);
        return saved;
    }

    TempHome home;
    ScriptedDialogs dialogs;
    std::unique_ptr<CBackupDlg> window;
    QTreeWidget* list = nullptr;
};

TEST_F(EntryCommandsWindowTest, AddedFilesAreSavedAndRemovingThemAllReloadsTheDefaultProject) {
    dialogs.openFilesAnswers.push_back({"/home/ann/a.txt", "/home/ann/b.txt", "/home/ann/c.txt"});
    Press("addFileButton");
    EXPECT_EQ(Rows(), (QStringList{"/home/ann/a.txt", "/home/ann/b.txt", "/home/ann/c.txt"}));
    EXPECT_EQ(SavedProject().entries,
              (std::vector<std::string>{"/home/ann/a.txt", "/home/ann/b.txt", "/home/ann/c.txt"}));

    list->topLevelItem(0)->setSelected(true);
    list->topLevelItem(2)->setSelected(true);
    list->setCurrentItem(list->topLevelItem(2), 0, QItemSelectionModel::NoUpdate);
    Press("removeEntryButton");
    EXPECT_EQ(Rows(), QStringList{"/home/ann/b.txt"});
    EXPECT_EQ(window->Setup().entries, std::vector<std::string>{"/home/ann/b.txt"});

    list->setCurrentItem(list->topLevelItem(0));
    list->topLevelItem(0)->setSelected(true);
    Press("removeEntryButton");
    EXPECT_TRUE(Rows().isEmpty());
    EXPECT_TRUE(SavedProject().entries.empty());
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.MessageTexts().join("\n").toStdString();
}

TEST_F(EntryCommandsWindowTest, BrowsingToAnFtpFolderShowsItWithoutUserAndPassword) {
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        dialog.findChild<QRadioButton*>("ftpFolderRadio")->setChecked(true);
        dialog.findChild<QPushButton*>("okButton")->click();
    });
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        dialog.findChild<QLineEdit*>("serverEdit")->setText("ftp://files.example");
        dialog.findChild<QLineEdit*>("userEdit")->setText("ann");
        dialog.findChild<QLineEdit*>("passwordEdit")->setText("hidden");
        dialog.findChild<QLineEdit*>("folderEdit")->setText("laptop/daily");
        dialog.findChild<QPushButton*>("okButton")->click();
    });
    Press("browseButton");

    EXPECT_EQ(SavedProject().destination, "ftp://files.example/...@!@passive@!@ann@!@hidden@!@laptop/daily");
    EXPECT_EQ(window->findChild<QLineEdit*>("destinationEdit")->text(), "ftp://files.example/laptop/daily");
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.MessageTexts().join("\n").toStdString();
}

}  // namespace
