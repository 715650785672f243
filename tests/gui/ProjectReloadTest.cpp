#include "ScriptedDialogs.h"
#include "app/CBackupDlg.h"
#include "app/ProjectFileWatch.h"
#include "platform/SystemdUnits.h"
#include "storage/FirstStart.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"
#include "support/TempHome.h"
#include "util/SafeFormat.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {
constexpr int kEventWaitMs = 5000;

// The window with its default project open; the file is then changed as the
// runner or a person would change it.
class ProjectReloadTest : public ::testing::Test {
protected:
    ProjectReloadTest() {
        PowerClass settings(BinFolder());
        settings.ResolveSettingsFile();
        projectPath = ProvisionDefaultProject(settings);
        BackupSetup setup;
        setup.destination = target.path() + "/...";
        setup.entries = {"/home/ann/notes.txt"};
        setup.interval = 10;
        setup.minutesRemaining = 10;
        WriteProject(projectPath, setup);
    }

    std::unique_ptr<CBackupDlg> OpenWindow() {
        MainWindowEnvironment environment;
        environment.programFolder = BinFolder();
        environment.executablePath = BinFolder() + "/tarnwick-backup";
        environment.commandLine = "tarnwick-backup";
        environment.trayAvailable = [] { return false; };
        auto window = std::make_unique<CBackupDlg>(dialogs, environment);
        list = window->findChild<QTreeWidget*>(QStringLiteral("entryList"));
        countdown = window->findChild<QLabel*>(QStringLiteral("countdownLabel"));
        return window;
    }

    QStringList Rows() const {
        QStringList rows;
        for (int i = 0; i < list->topLevelItemCount(); ++i) rows << list->topLevelItem(i)->text(0);
        return rows;
    }
    QString Remaining(const CBackupDlg& window, int minutes) const {
        return QString::fromUtf8(FormatText(window.Texts().GetText(TextId::MinutesRemaining), minutes));
    }
    BackupSetup Saved() const {
        BackupSetup saved;
        EXPECT_EQ(ReadProject(projectPath, saved), ProjectLoad::Loaded);
        return saved;
    }

    TempHome home;
    TempFolder target;
    ScriptedDialogs dialogs;
    std::string projectPath;
    QTreeWidget* list = nullptr;
    QLabel* countdown = nullptr;
};

TEST_F(ProjectReloadTest, AnEditByHandShowsInTheListAndSurvivesTheWindowsNextSave) {
    auto window = OpenWindow();
    ASSERT_EQ(Rows(), QStringList{"/home/ann/notes.txt"});

    // Typed in an editor: line feeds only, a second entry, a new interval.
    WriteTestFile(projectPath, "Tarnwick Backup Project\n=======================\n\n" + target.path() +
                                   "/...\n30\n25\n\n/home/ann/notes.txt*/home/ann/Music/...*");
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->topLevelItemCount() == 2; }, kEventWaitMs));
    EXPECT_EQ(Rows(), (QStringList{"/home/ann/notes.txt", "/home/ann/Music/..."}));
    EXPECT_EQ(window->Setup().interval, 30);
    EXPECT_EQ(countdown->text(), Remaining(*window, 25));

    // The next minute saves the window's set-up, which now holds the edit.
    window->OnSchedulerTick();
    EXPECT_EQ(Saved().entries, (std::vector<std::string>{"/home/ann/notes.txt", "/home/ann/Music/..."}));
    EXPECT_EQ(Saved().interval, 30);
    EXPECT_EQ(Saved().minutesRemaining, 24);
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.MessageTexts().join("\n").toStdString();
}

TEST_F(ProjectReloadTest, AnEditNotYetReportedIsTakenBeforeTheTickSaves) {
    auto window = OpenWindow();
    // Written and ticked at once, before any event of the file is delivered.
    BackupSetup edited = Saved();
    edited.entries.push_back("/home/ann/Pictures/...");
    WriteProject(projectPath, edited);
    window->OnSchedulerTick();
    EXPECT_EQ(Saved().entries, edited.entries);
    EXPECT_EQ(Rows().size(), 2);
}

TEST_F(ProjectReloadTest, TheRunnersRunStateIsTakenAndTheCountdownGoesOnFromIt) {
    auto window = OpenWindow();
    window->OnSchedulerTick();
    window->OnSchedulerTick();
    ASSERT_EQ(countdown->text(), Remaining(*window, 8));

    // A run by tarnwick-backup-cli saves only its own lines.
    SaveRunStateToProject(projectPath, 10, "2026-12-09 18:00");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Setup().lastRun == "2026-12-09 18:00"; }, kEventWaitMs));
    EXPECT_EQ(countdown->text(), Remaining(*window, 10));
    EXPECT_EQ(Rows(), QStringList{"/home/ann/notes.txt"});

    window->OnSchedulerTick();
    EXPECT_EQ(Saved().lastRun, "2026-12-09 18:00");
    EXPECT_EQ(Saved().minutesRemaining, 9);
}

TEST_F(ProjectReloadTest, TheWindowsOwnSavesDoNotReloadIt) {
    auto window = OpenWindow();
    auto* watch = window->findChild<ProjectFileWatch*>();
    ASSERT_NE(watch, nullptr);
    QSignalSpy changed(watch, &ProjectFileWatch::Changed);
    list->topLevelItem(0)->setSelected(true);

    window->OnSchedulerTick();  // saves the project
    const auto savedAt = fs::last_write_time(projectPath);
    ASSERT_TRUE(changed.wait(kEventWaitMs));
    // The file was looked at and found to be the window's own: the list was not
    // rebuilt (its selection stays) and nothing was written again.
    QTest::qWait(500);
    EXPECT_TRUE(list->topLevelItem(0)->isSelected());
    EXPECT_EQ(fs::last_write_time(projectPath), savedAt);
    EXPECT_EQ(countdown->text(), Remaining(*window, 9));
}

TEST_F(ProjectReloadTest, ASystemdTimerOfTheProjectShowsInsteadOfTheCountdown) {
    const SystemdUnits units = *SystemdUnitsFor(projectPath);
    fs::create_directories(units.folder);
    WriteTestFile(units.TimerPath(), "[Timer]\n");
    auto window = OpenWindow();
    const QString inCharge =
        QString::fromUtf8(FormatText(window->Texts().GetText(TextId::SystemdTimerInCharge), units.timerName));
    EXPECT_EQ(countdown->text(), inCharge);
    window->OnSchedulerTick();
    EXPECT_EQ(countdown->text(), inCharge);
    EXPECT_EQ(Saved().minutesRemaining, 10);
}
}  // namespace
