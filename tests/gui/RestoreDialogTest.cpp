#include "RestoreSample.h"
#include "ScriptedDialogs.h"
#include "app/CBackupDlg.h"
#include "app/CommandIds.h"
#include "app/MainMenu.h"
#include "engine/Restore.h"
#include "restore/CRestoreDlg.h"
#include "storage/PowerClass.h"
#include "support/FtpTestServer.h"
#include "support/RecordingReporter.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

using Row = std::pair<std::string, std::string>;  // action, file

class RestoreDialogTest : public ::testing::Test {
protected:
    RestoreDialogTest() {
        PowerClass settings(BinFolder());
        settings.ResolveSettingsFile();
        settings.SetSetting("Language", "[1033]");
        texts.Load();
    }

    // Open as the window shows it: the first dry run follows the showing.
    std::unique_ptr<CRestoreDlg> Open(const RestoreSample& sample) {
        auto dialog = std::make_unique<CRestoreDlg>(dialogs, texts, sample.setup, home.SettingsFolder());
        dialog->show();
        QApplication::processEvents();
        return dialog;
    }
    template <typename T>
    static T* Find(QWidget& dialog, const char* name) {
        T* found = dialog.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    static std::vector<Row> Rows(QWidget& dialog) {
        std::vector<Row> rows;
        QTreeWidget* list = Find<QTreeWidget>(dialog, "planList");
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            rows.emplace_back(list->topLevelItem(i)->text(0).toStdString(),
                              list->topLevelItem(i)->text(1).toStdString());
        return rows;
    }
    std::string Action(RestoreAction action) const { return ActionText(texts, action); }
    static void ChooseFolder(QWidget& dialog, ScriptedDialogs& dialogs, const std::string& folder) {
        dialogs.browseFolderAnswers.push_back(QString::fromStdString(folder));
        Find<QRadioButton>(dialog, "toFolderRadio")->click();
    }
    void ConfirmRestore(QWidget& dialog, Dialogs::Answer answer = Dialogs::Answer::Yes) {
        dialogs.messageAnswers.push_back(answer);
        Find<QPushButton>(dialog, "restoreButton")->click();
    }

    TempHome home;
    ScriptedDialogs dialogs;
    CTranslation texts{BinFolder()};
};

TEST_F(RestoreDialogTest, TheDryRunListsWhatTheRestoreWouldDoAndChangesNothing) {
    RestoreSample sample;
    auto dialog = Open(sample);

    // The list says what the plan of the same request says, item for item.
    RecordingReporter reporter;
    Restorer restorer(sample.setup, reporter);
    const RestorePlan plan = restorer.Plan({});
    ASSERT_EQ(plan.items.size(), 4u);
    std::vector<Row> planned;
    for (const RestoreItem& item : plan.items)
        planned.emplace_back(Action(item.action),
                             item.action == RestoreAction::Missing ? item.original : item.target);
    EXPECT_EQ(Rows(*dialog), planned);
    EXPECT_EQ(Rows(*dialog), (std::vector<Row>{{Action(RestoreAction::SkipNewer), sample.Data() + "/a.txt"},
                                               {Action(RestoreAction::Restore), sample.Data() + "/sub/b.txt"},
                                               {Action(RestoreAction::Restore), sample.Notes()},
                                               {Action(RestoreAction::Missing), sample.Other()}}));
    EXPECT_EQ(Find<QLabel>(*dialog, "summaryLabel")->text().toStdString(),
              "Files to restore: 2 (8 Bytes)     Skipped: 1     Missing: 1");
    EXPECT_TRUE(Find<QPushButton>(*dialog, "restoreButton")->isEnabled());

    // The exception is no entry to pick; the others are, all of them at first.
    QListWidget* entries = Find<QListWidget>(*dialog, "entryList");
    ASSERT_EQ(entries->count(), 3);
    EXPECT_TRUE(Find<QCheckBox>(*dialog, "allEntriesCheck")->isChecked());
    EXPECT_EQ(ReadTestFile(sample.Data() + "/a.txt"), "new a");
    EXPECT_FALSE(fs::exists(sample.Notes()));
}

TEST_F(RestoreDialogTest, PickedEntriesNarrowTheDryRunAndNoneLeavesNothingToRestore) {
    RestoreSample sample;
    auto dialog = Open(sample);
    QListWidget* entries = Find<QListWidget>(*dialog, "entryList");
    QCheckBox* all = Find<QCheckBox>(*dialog, "allEntriesCheck");

    entries->item(0)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(all->isChecked());
    EXPECT_EQ(Rows(*dialog), (std::vector<Row>{{Action(RestoreAction::Restore), sample.Notes()},
                                               {Action(RestoreAction::Missing), sample.Other()}}));

    all->click();
    EXPECT_EQ(entries->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(Rows(*dialog).size(), 4u);

    all->click();
    EXPECT_EQ(entries->item(2)->checkState(), Qt::Unchecked);
    EXPECT_TRUE(Rows(*dialog).empty());
    EXPECT_FALSE(Find<QPushButton>(*dialog, "restoreButton")->isEnabled());
}

TEST_F(RestoreDialogTest, ARestoreToAFolderPutsTheFilesThereWithTheirTimes) {
    RestoreSample sample;
    TempFolder target;
    auto dialog = Open(sample);
    ChooseFolder(*dialog, dialogs, target.path());
    ASSERT_EQ(dialogs.browseFolderTitles.size(), 1u);
    EXPECT_EQ(Find<QLineEdit>(*dialog, "folderEdit")->text().toStdString(), target.path());
    // Below the folder nothing is newer: a.txt is restored there too.
    EXPECT_EQ(Rows(*dialog).front(),
              Row(Action(RestoreAction::Restore), target.path() + sample.Data() + "/a.txt"));

    ConfirmRestore(*dialog);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_THAT(dialogs.messages[0].text.toStdString(), HasSubstr("Restore 3 files now?"));
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    ASSERT_TRUE(dialog->Outcome().has_value());
    EXPECT_EQ(dialog->Outcome()->restored, 3u);
    EXPECT_EQ(dialog->Outcome()->missing, 1u);
    EXPECT_TRUE(dialog->Outcome()->failures.empty());

    const std::string below = target.path() + sample.source.path();
    EXPECT_EQ(ReadTestFile(below + "/Data/a.txt"), "old a");
    EXPECT_EQ(ReadTestFile(below + "/Data/sub/b.txt"), "bee");
    EXPECT_EQ(ReadTestFile(below + "/notes.txt"), "notes");
    EXPECT_FALSE(fs::exists(below + "/Data/private.txt"));
    EXPECT_EQ(ModifiedSeconds(below + "/Data/sub/b.txt"), ModifiedSeconds(sample.DataCopy() + "/sub/b.txt"));
    EXPECT_EQ(ModifiedSeconds(below + "/notes.txt"), ModifiedSeconds(sample.copyRoot + "/notes.txt"));
    // The originals are untouched.
    EXPECT_EQ(ReadTestFile(sample.Data() + "/a.txt"), "new a");
    EXPECT_FALSE(fs::exists(sample.Notes()));
}

TEST_F(RestoreDialogTest, OverwritingNewerFilesIsTheUsersChoice) {
    RestoreSample sample;
    const long long localTime = ModifiedSeconds(sample.Data() + "/a.txt");
    {
        auto dialog = Open(sample);
        ConfirmRestore(*dialog);
        EXPECT_EQ(dialog->Outcome()->skipped, 1u);
        EXPECT_EQ(ReadTestFile(sample.Data() + "/a.txt"), "new a");
        EXPECT_EQ(ModifiedSeconds(sample.Data() + "/a.txt"), localTime);
        EXPECT_EQ(ReadTestFile(sample.Notes()), "notes");
    }
    fs::remove(sample.Notes());
    auto dialog = Open(sample);
    Find<QCheckBox>(*dialog, "overwriteCheck")->click();
    EXPECT_EQ(Rows(*dialog).front(), Row(Action(RestoreAction::Restore), sample.Data() + "/a.txt"));
    ConfirmRestore(*dialog);
    EXPECT_EQ(dialog->Outcome()->skipped, 0u);
    EXPECT_EQ(ReadTestFile(sample.Data() + "/a.txt"), "old a");
    EXPECT_LT(ModifiedSeconds(sample.Data() + "/a.txt"), localTime);
}

TEST_F(RestoreDialogTest, DecliningOrClosingChangesNothing) {
    RestoreSample sample;
    auto dialog = Open(sample);
    ConfirmRestore(*dialog, Dialogs::Answer::No);
    EXPECT_TRUE(dialog->isVisible()) << "the user may still change the choices";
    EXPECT_FALSE(dialog->Outcome().has_value());

    // A folder chosen and then cancelled in the picker keeps the original places.
    dialogs.browseFolderAnswers.push_back(std::nullopt);
    Find<QRadioButton>(*dialog, "toFolderRadio")->click();
    EXPECT_TRUE(Find<QRadioButton>(*dialog, "originalPlacesRadio")->isChecked());

    Find<QPushButton>(*dialog, "closeButton")->click();
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(dialog->Outcome().has_value());
    EXPECT_EQ(ReadTestFile(sample.Data() + "/a.txt"), "new a");
    EXPECT_FALSE(fs::exists(sample.Notes()));
    EXPECT_FALSE(fs::exists(sample.Data() + "/sub"));
}

TEST_F(RestoreDialogTest, AnUnreadableDestinationIsListedAndOffersNothing) {
    RestoreSample sample;
    fs::remove_all(sample.backup.path() + "/backup");
    auto dialog = Open(sample);
    const std::vector<Row> rows = Rows(*dialog);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].first, texts.GetText(TextId::RestoreActionUnreadable));
    EXPECT_THAT(rows[0].second, HasSubstr("the backup folder does not exist"));
    EXPECT_FALSE(Find<QPushButton>(*dialog, "restoreButton")->isEnabled());

    sample.setup.destination.clear();
    auto unset = Open(sample);
    ASSERT_EQ(Rows(*unset).size(), 1u);
    EXPECT_EQ(Rows(*unset)[0].second, "no backup folder is set");
}

TEST_F(RestoreDialogTest, AnFtpDestinationIsListedAndRestoredWithTheTimesOfItsCopies) {
    FtpTestServer server;
    RestoreSample sample(server);
    TempFolder target;
    auto dialog = Open(sample);
    EXPECT_EQ(Rows(*dialog), (std::vector<Row>{{Action(RestoreAction::SkipNewer), sample.Data() + "/a.txt"},
                                               {Action(RestoreAction::Restore), sample.Data() + "/sub/b.txt"},
                                               {Action(RestoreAction::Restore), sample.Notes()},
                                               {Action(RestoreAction::Missing), sample.Other()}}));
    ChooseFolder(*dialog, dialogs, target.path());
    ConfirmRestore(*dialog);
    ASSERT_TRUE(dialog->Outcome().has_value());
    EXPECT_TRUE(dialog->Outcome()->failures.empty());
    EXPECT_EQ(dialog->Outcome()->restored, 3u);
    const std::string below = target.path() + sample.source.path();
    EXPECT_EQ(ReadTestFile(below + "/Data/sub/b.txt"), "bee");
    EXPECT_EQ(ModifiedSeconds(below + "/notes.txt"), ModifiedSeconds(sample.copyRoot + "/notes.txt"));
    EXPECT_EQ(ModifiedSeconds(below + "/Data/sub/b.txt"), ModifiedSeconds(sample.DataCopy() + "/sub/b.txt"));
}

TEST_F(RestoreDialogTest, TheFileMenuOpensItAndTheWindowReportsTheOutcomeAsARunDoes) {
    MainWindowEnvironment environment;
    environment.programFolder = BinFolder();
    environment.executablePath = BinFolder() + "/tarnwick-backup";
    environment.commandLine = "tarnwick-backup";
    environment.trayAvailable = [] { return false; };
    CBackupDlg window(dialogs, environment);
    RestoreSample sample;
    window.Setup().entries = sample.setup.entries;
    window.Setup().destination = sample.setup.destination;
    // A folder where a file goes back fails that file alone.
    fs::create_directory(sample.Notes());

    ASSERT_NE(window.Menu().Action(CommandId::Restore), nullptr);
    dialogs.dialogScripts.push_back([&](QDialog& dialog) {
        EXPECT_EQ(dialog.objectName(), "CRestoreDlg");
        ConfirmRestore(dialog);
    });
    window.Menu().Action(CommandId::Restore)->trigger();
    ASSERT_EQ(dialogs.dialogsRun.size(), 1u);
    EXPECT_EQ(ReadTestFile(sample.Data() + "/sub/b.txt"), "bee");

    ASSERT_EQ(dialogs.messages.size(), 2u);
    const ScriptedDialogs::Message& notice = dialogs.messages[1];
    EXPECT_TRUE(notice.notice);
    EXPECT_EQ(notice.icon, Dialogs::Icon::Warning);
    EXPECT_THAT(notice.text.toStdString(), HasSubstr("Files restored: 1 (3 Bytes)\nSkipped: 1\nMissing: 1"));
    EXPECT_THAT(notice.text.toStdString(), HasSubstr("Failures: 1"));
    EXPECT_THAT(notice.text.toStdString(), HasSubstr(sample.Notes() + ": not restored"));
}

}  // namespace
