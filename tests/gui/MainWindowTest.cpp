#include "ScriptedDialogs.h"
#include "app/BehaviourSettings.h"
#include "app/CBackupDlg.h"
#include "app/CommandIds.h"
#include "app/MainMenu.h"
#include "app/MainWindowControls.h"
#include "app/RunProgressPanel.h"
#include "app/SingleInstance.h"
#include "app/TrayPresence.h"
#include "app/WindowTransferReporter.h"
#include "platform/AutostartEntry.h"
#include "storage/FirstStart.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"
#include "support/FileSizeLimit.h"
#include "support/TempHome.h"
#include "util/SafeFormat.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

namespace fs = std::filesystem;

namespace {

QString Q(const std::string& text) {
    return QString::fromUtf8(text);
}

class MainWindowTest : public ::testing::Test {
protected:
    std::unique_ptr<CBackupDlg> OpenWindow(std::string programFolder = BinFolder()) {
        MainWindowEnvironment environment;
        environment.programFolder = std::move(programFolder);
        environment.executablePath = BinFolder() + "/tarnwick-backup";
        environment.commandLine = "tarnwick-backup";
        environment.trayAvailable = [this] { return trayAvailable; };
        return std::make_unique<CBackupDlg>(dialogs, environment);
    }

    std::string DefaultProject() const { return home.ConfigHome() + "/Tarnwick/tarnwick_backup.tarn"; }

    // What the program itself reads: the per-user settings, provisioned.
    PowerClass Settings() {
        PowerClass settings(BinFolder());
        settings.ResolveSettingsFile();
        return settings;
    }

    // Stores a set-up as the default project before the window opens.
    void PrepareProject(const BackupSetup& setup) {
        PowerClass settings = Settings();
        WriteProject(ProvisionDefaultProject(settings), setup);
    }

    void SetOptions(const std::string& options) { Settings().SetSetting("Options", options); }

    template <typename Widget>
    static Widget* Find(CBackupDlg& window, const char* name) {
        auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    static QString Text(const CBackupDlg& window, TextId id) { return Q(window.Texts().GetText(id)); }

    TempHome home;
    ScriptedDialogs dialogs;
    bool trayAvailable = false;
};

// ------------------------------------------------------------ start-up

TEST_F(MainWindowTest, FirstStartProvisionsThePerUserFilesAndLoadsTheTemplateProject) {
    auto window = OpenWindow();

    EXPECT_TRUE(fs::is_regular_file(home.SettingsFolder() + "/config.ini"));
    EXPECT_TRUE(fs::is_regular_file(home.SettingsFolder() + "/history.txt"));
    ASSERT_TRUE(fs::is_regular_file(DefaultProject()));
    EXPECT_EQ(Settings().GetSetting("Path"), DefaultProject());
    EXPECT_EQ(window->Setup().currentProjectFile, DefaultProject());

    const std::string destination = home.DocumentsFolder() + "/Tarnwick Backup Folder/...";
    EXPECT_EQ(window->Setup().destination, destination);
    EXPECT_TRUE(fs::is_directory(home.DocumentsFolder() + "/Tarnwick Backup Folder"));
    EXPECT_EQ(Find<QLineEdit>(*window, "destinationEdit")->text(), Q(destination));
    EXPECT_TRUE(window->SchedulerTimer().isActive());
    EXPECT_EQ(window->SchedulerTimer().interval(), 60000);
    EXPECT_EQ(window->windowTitle(), "Tarnwick Backup 7");
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.MessageTexts().join("\n").toStdString();
}

TEST_F(MainWindowTest, SecondStartCopiesNothingAndLoadsTheProjectNamedByPath) {
    OpenWindow();
    WriteTestFile(home.SettingsFolder() + "/history.txt", "kept");
    BackupSetup setup;
    setup.destination = "/srv/backups/...";
    setup.entries = {"/home/ann/notes.txt", "/home/ann/Data/..."};
    setup.interval = 1563;
    WriteProject(DefaultProject(), setup);

    auto second = OpenWindow();

    EXPECT_EQ(ReadTestFile(home.SettingsFolder() + "/history.txt"), "kept");
    auto* list = Find<QTreeWidget>(*second, "entryList");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(1)->text(0), "/home/ann/Data/...");
    EXPECT_EQ(list->headerItem()->text(0), Text(*second, TextId::EntryColumnHeader));
    EXPECT_EQ(Find<QLineEdit>(*second, "daysEdit")->text(), "1");
    EXPECT_EQ(Find<QLineEdit>(*second, "hoursEdit")->text(), "2");
    EXPECT_EQ(Find<QLineEdit>(*second, "minutesEdit")->text(), "3");
    EXPECT_EQ(Find<QLabel>(*second, "countdownLabel")->text(),
              Q(FormatText(second->Texts().GetText(TextId::MinutesRemaining), 1563)));
}

TEST_F(MainWindowTest, LoadedRowsFollowTheBreakDownSwitchButTheDestinationIsAlwaysBrokenDown) {
    const std::string longFolder = "/home/ann/" + std::string(90, 'x');
    BackupSetup setup;
    setup.destination = longFolder + "/...";
    setup.entries = {longFolder + "/..."};
    PrepareProject(setup);

    auto plain = OpenWindow();
    EXPECT_EQ(Find<QTreeWidget>(*plain, "entryList")->topLevelItem(0)->text(0), Q(longFolder + "/..."));
    EXPECT_EQ(Find<QLineEdit>(*plain, "destinationEdit")->text().size(), 79);

    SetOptions("000010001005000");
    auto brokenDown = OpenWindow();
    EXPECT_EQ(Find<QTreeWidget>(*brokenDown, "entryList")->topLevelItem(0)->text(0).size(), 79);
}

TEST_F(MainWindowTest, MaximisedStartFollowsOptionPositionNine) {
    SetOptions("000010000105000");
    auto window = OpenWindow();
    EXPECT_TRUE(window->windowState() & Qt::WindowMaximized);
}

TEST_F(MainWindowTest, MissingTranslationFileIsReportedAndTheWindowStillOpens) {
    // A program folder with the templates but without the translation file.
    TempFolder program;
    for (const char* name : {"config.ini", "tarnwick_backup.tarn", "history.txt"})
        fs::copy_file(BinFolder() + "/" + name, program.path() + "/" + name);

    auto window = OpenWindow(program.path());

    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_TRUE(dialogs.messages.front().text.contains("TarnwickBackuptrl.ini"))
        << dialogs.messages.front().text.toStdString();
    EXPECT_EQ(Find<QPushButton>(*window, "addFileButton")->text(), "---");
    // Everything after the texts still happened.
    EXPECT_TRUE(fs::is_regular_file(DefaultProject()));
    EXPECT_FALSE(Find<QLineEdit>(*window, "destinationEdit")->text().isEmpty());
    EXPECT_TRUE(window->SchedulerTimer().isActive());
}

TEST_F(MainWindowTest, UnreadableProjectIsReportedByNameAndTheWindowStillOpens) {
    PowerClass settings = Settings();
    ProvisionDefaultProject(settings);
    // A folder where the project file must be.
    fs::remove(DefaultProject());
    fs::create_directories(DefaultProject());

    auto window = OpenWindow();

    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_TRUE(dialogs.MessageTexts().join("\n").contains(Q(DefaultProject())));
    EXPECT_EQ(Find<QPushButton>(*window, "addFileButton")->text(), Text(*window, TextId::AddFile));
}

// ------------------------------------------------------------ controls and texts

TEST_F(MainWindowTest, EveryControlCarriesItsIdTextAndTooltip) {
    auto window = OpenWindow();
    const struct {
        const char* name;
        int id;
    } controls[] = {{"entryList", 1002},
                    {"addFileButton", 1003},
                    {"addFolderButton", 1004},
                    {"removeEntryButton", 1005},
                    {"browseButton", 1006},
                    {"destinationEdit", 1007},
                    {"fullBackupRadio", 1008},
                    {"incrementalBackupRadio", 1009},
                    {"daysEdit", 1010},
                    {"hoursEdit", 1011},
                    {"minutesEdit", 1012},
                    {"startWithSessionCheck", 1013},
                    {"behaviourGroup", 1014},
                    {"countdownLabel", 1015},
                    {"addSpecialFolderButton", 1016},
                    {"optionsButton", 1017},
                    {"filesGroup", 1023},
                    {"backupFolderGroup", 1024},
                    {"intervalGroup", 1025},
                    {"daysLabel", 1026},
                    {"hoursLabel", 1027},
                    {"minutesLabel", 1028},
                    {"titleLabel", 1029},
                    {"startBackupButton", 1031},
                    {"headerLogo", 1055}};
    for (const auto& control : controls) {
        QWidget* widget = Find<QWidget>(*window, control.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->property("controlId").toInt(), control.id) << control.name;
    }
    EXPECT_EQ(Find<QPushButton>(*window, "startBackupButton")->text(), Text(*window, TextId::StartBackup));
    EXPECT_EQ(Find<QPushButton>(*window, "startBackupButton")->toolTip(),
              Text(*window, TextId::TipStartBackup));
    EXPECT_EQ(Find<QPushButton>(*window, "optionsButton")->toolTip(), Text(*window, TextId::TipOptions));
    EXPECT_EQ(Find<QLabel>(*window, "hoursLabel")->text(), Text(*window, TextId::Hours));
    EXPECT_EQ(Find<QLineEdit>(*window, "daysEdit")->maxLength(), 3);
    EXPECT_EQ(Find<QLineEdit>(*window, "minutesEdit")->maxLength(), 2);
    EXPECT_EQ(Find<QLabel>(*window, "countdownLabel")->palette().color(QPalette::WindowText),
              QColor(0, 0, 128));
    EXPECT_EQ(Find<QLabel>(*window, "titleLabel")->palette().color(QPalette::WindowText), QColor(96, 96, 96));
    EXPECT_EQ(Find<QLabel>(*window, "titleLabel")->font().pixelSize(),
              static_cast<int>(21 * LayoutScale(window->font()) + 0.5));
    EXPECT_EQ(Find<QTreeWidget>(*window, "entryList")->columnWidth(0),
              static_cast<int>(420 * LayoutScale(window->font()) + 0.5));
    EXPECT_EQ(Find<QTreeWidget>(*window, "entryList")->selectionMode(), QAbstractItemView::ExtendedSelection);
}

TEST_F(MainWindowTest, MenuItemsBeginWithTwoBlanksAndHaveIconsAlsoAfterALanguageChange) {
    auto window = OpenWindow();
    auto checkMenus = [&](const char* when) {
        QList<QAction*> items;
        for (const char* name : {"fileMenu", "functionsMenu", "helpMenu"})
            items += Find<QMenu>(*window, name)->actions();
        int commands = 0;
        for (QAction* item : items) {
            if (item->isSeparator()) continue;
            ++commands;
            EXPECT_TRUE(item->text().startsWith("  ")) << when << ": " << item->text().toStdString();
            EXPECT_FALSE(item->text().contains("---")) << when << ": " << item->text().toStdString();
            EXPECT_FALSE(item->icon().isNull()) << when << ": " << item->text().toStdString();
        }
        EXPECT_EQ(commands, 18) << when;
    };
    checkMenus("English");
    const QString englishFile = window->Menu().Bar()->actions().at(0)->text();
    EXPECT_EQ(window->Menu().Action(CommandId::StartBackupNow)->text(),
              "  " + Text(*window, TextId::MenuStartBackupNow));

    // Another project opened before the change; the change brings back the default one.
    BackupSetup other;
    other.destination = "/srv/other/...";
    other.entries = {"/home/ann/other.txt"};
    const std::string otherProject = home.path() + "/other.tarn";
    WriteProject(otherProject, other);
    dialogs.openFilesAnswers.push_back({Q(otherProject)});
    window->OnCommand(CommandId::OpenProject);
    ASSERT_EQ(window->Setup().currentProjectFile, otherProject);

    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        auto* combo = dialog.findChild<QComboBox*>("languageCombo");
        ASSERT_NE(combo, nullptr);
        const int german = combo->findText("Deutsch");
        ASSERT_GE(german, 0);
        combo->setCurrentIndex(german);
        dialog.findChild<QPushButton*>("okButton")->click();
    });
    window->OnCommand(CommandId::Language);

    EXPECT_EQ(Settings().GetSetting("Language"), "[1031]");
    EXPECT_NE(window->Menu().Bar()->actions().at(0)->text(), englishFile);
    EXPECT_EQ(Find<QPushButton>(*window, "addFileButton")->text(), Text(*window, TextId::AddFile));
    checkMenus("German");
    EXPECT_EQ(window->Setup().currentProjectFile, DefaultProject());
    EXPECT_EQ(Find<QTreeWidget>(*window, "entryList")->topLevelItemCount(), 0);

    // Choosing the same language again changes nothing.
    window->Setup().currentProjectFile = otherProject;
    dialogs.dialogScripts.push_back(
        [](QDialog& dialog) { dialog.findChild<QPushButton*>("okButton")->click(); });
    window->OnCommand(CommandId::Language);
    EXPECT_EQ(window->Setup().currentProjectFile, otherProject);
}

TEST_F(MainWindowTest, EntryButtonsReachTheEntryCommandsThroughTheListsSelectionMark) {
    BackupSetup setup;
    setup.destination = "/srv/backups/...";
    setup.entries = {"/home/ann/a.txt", "/home/ann/b.txt", "/home/ann/c.txt"};
    PrepareProject(setup);
    auto window = OpenWindow();
    window->show();
    auto* list = Find<QTreeWidget>(*window, "entryList");
    list->setFocus();
    QApplication::processEvents();
    // Focus alone selects nothing and sets no mark.
    EXPECT_TRUE(window->SelectedRows().empty());
    Find<QPushButton>(*window, "removeEntryButton")->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, Text(*window, TextId::NoEntrySelected));
    EXPECT_EQ(list->topLevelItemCount(), 3);

    list->topLevelItem(0)->setSelected(true);
    list->topLevelItem(2)->setSelected(true);
    window->OnCommand(CommandId::RemoveEntry);
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "/home/ann/b.txt");
    BackupSetup saved;
    ASSERT_EQ(LoadProject(DefaultProject(), saved), ProjectLoad::Loaded);
    EXPECT_EQ(saved.entries, std::vector<std::string>{"/home/ann/b.txt"});

    const std::string added = home.path() + "/new.txt";
    dialogs.openFilesAnswers.push_back({Q(added)});
    Find<QPushButton>(*window, "addFileButton")->click();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(1)->text(0), Q(added));
}

// ------------------------------------------------------------ mode and start with session

TEST_F(MainWindowTest, ModeAndStartWithSessionAreStoredAndShownAgainAfterARestart) {
    {
        auto window = OpenWindow();
        Find<QRadioButton>(*window, "incrementalBackupRadio")->click();
        EXPECT_EQ(Settings().GetOptions()[0], '1');
        Find<QCheckBox>(*window, "startWithSessionCheck")->click();
        EXPECT_EQ(Settings().GetOptions()[1], '1');
        EXPECT_EQ(window->StartWithSession(), 1);
    }
    EXPECT_EQ(ReadAutostartCommand(), "\"" + BinFolder() + "/tarnwick-backup\" %1");
    // The session must hand "%1" over literally.
    EXPECT_NE(ReadTestFile(AutostartEntryPath()).find(" %%1"), std::string::npos);

    auto restarted = OpenWindow();
    EXPECT_TRUE(Find<QRadioButton>(*restarted, "incrementalBackupRadio")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(*restarted, "startWithSessionCheck")->isChecked());

    Find<QCheckBox>(*restarted, "startWithSessionCheck")->click();
    EXPECT_FALSE(fs::exists(AutostartEntryPath()));
    EXPECT_EQ(Settings().GetOptions()[1], '0');
    Find<QRadioButton>(*restarted, "fullBackupRadio")->click();
    EXPECT_EQ(Settings().GetOptions()[0], '0');
    // Checking again writes the entry anew.
    Find<QCheckBox>(*restarted, "startWithSessionCheck")->click();
    EXPECT_TRUE(ReadAutostartCommand().has_value());
}

TEST_F(MainWindowTest, AutostartCommandKeepsBlanksInsideTheQuotes) {
    EXPECT_EQ(AutostartCommand("/opt/My Programs/tarnwick-backup"),
              "\"/opt/My Programs/tarnwick-backup\" %1");
    EXPECT_EQ(AutostartCommand("/opt/a\"b$c/x"), "\"/opt/a\\\"b\\$c/x\" %1");
}

TEST_F(MainWindowTest, StartWithSessionThatCannotBeWrittenIsReportedAndNotClaimed) {
    auto window = OpenWindow();
    // A file where the autostart folder must be.
    WriteTestFile(home.ConfigHome() + "/autostart", "in the way");

    Find<QCheckBox>(*window, "startWithSessionCheck")->click();

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains("autostart"));
    EXPECT_EQ(Settings().GetOptions()[1], '0');
    EXPECT_FALSE(Find<QCheckBox>(*window, "startWithSessionCheck")->isChecked());
}

// ------------------------------------------------------------ scheduler and run

class MainWindowRunTest : public MainWindowTest {
protected:
    // Five small files as file entries, copied into a temporary destination.
    void PrepareFiveFiles(int intervalMinutes) {
        BackupSetup setup;
        for (int i = 1; i <= 5; ++i) {
            const std::string file = source.path() + "/file" + std::to_string(i) + ".txt";
            WriteTestFile(file, "content " + std::to_string(i));
            setup.entries.push_back(file);
        }
        setup.destination = target.path() + "/...";
        setup.interval = intervalMinutes;
        PrepareProject(setup);
    }
    int CopiedFiles() const {
        int count = 0;
        for (int i = 1; i <= 5; ++i)
            count += fs::exists(target.path() + "/file" + std::to_string(i) + ".txt");
        return count;
    }

    TempFolder source;
    TempFolder target;
};

TEST_F(MainWindowRunTest, TicksCountDownAndADueTickBacksUpTheList) {
    PrepareFiveFiles(0);
    auto window = OpenWindow();
    auto* minutes = Find<QLineEdit>(*window, "minutesEdit");
    minutes->selectAll();
    QTest::keyClicks(minutes, "2");
    auto* countdown = Find<QLabel>(*window, "countdownLabel");
    EXPECT_EQ(countdown->text(), Q(FormatText(window->Texts().GetText(TextId::MinutesRemaining), 2)));

    window->OnSchedulerTick();
    EXPECT_EQ(countdown->text(), Q(FormatText(window->Texts().GetText(TextId::MinutesRemaining), 1)));
    EXPECT_EQ(CopiedFiles(), 0);

    window->OnSchedulerTick();
    EXPECT_EQ(CopiedFiles(), 5);
    EXPECT_EQ(ReadTestFile(target.path() + "/file3.txt"), "content 3");
    EXPECT_EQ(countdown->text(), Q(FormatText(window->Texts().GetText(TextId::MinutesRemaining), 2)));
    EXPECT_TRUE(window->SchedulerTimer().isActive());
    EXPECT_TRUE(Find<QPushButton>(*window, "addFileButton")->isEnabled());
    BackupSetup saved;
    ASSERT_EQ(LoadProject(DefaultProject(), saved), ProjectLoad::Loaded);
    EXPECT_EQ(saved.lastRun.size(), 16u);
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.MessageTexts().join("\n").toStdString();
}

TEST_F(MainWindowRunTest, StartNowWithAnEmptyListOnlySaysSo) {
    auto window = OpenWindow();
    Find<QPushButton>(*window, "startBackupButton")->click();
    window->OnCommand(CommandId::StartBackupNow);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].text, "You have to add any files or folders to backup first!");
    EXPECT_EQ(dialogs.messages[0].caption, Text(*window, TextId::MessageCaption));
}

TEST_F(MainWindowRunTest, DuringARunTheStartButtonStaysLiveAsTheStopRequest) {
    PrepareFiveFiles(60);
    auto window = OpenWindow();
    auto* start = Find<QPushButton>(*window, "startBackupButton");
    bool checked = false;
    // Runs at the run's first pump of events.
    QTimer::singleShot(0, window.get(), [&] {
        checked = true;
        EXPECT_TRUE(window->Run().running);
        EXPECT_TRUE(start->isEnabled());
        EXPECT_EQ(start->text(), Text(*window, TextId::StopBackup));
        EXPECT_FALSE(Find<QPushButton>(*window, "addFileButton")->isEnabled());
        EXPECT_FALSE(Find<QCheckBox>(*window, "startWithSessionCheck")->isEnabled());
        EXPECT_FALSE(window->Menu().Action(CommandId::AddFile)->isEnabled());
        EXPECT_FALSE(window->Menu().Action(CommandId::Language)->isEnabled());
        EXPECT_FALSE(window->Menu().Action(CommandId::Restore)->isEnabled());
        start->click();
        EXPECT_TRUE(window->Run().cancelRequested);
    });

    start->click();

    EXPECT_TRUE(checked);
    EXPECT_LT(CopiedFiles(), 5);
    EXPECT_FALSE(window->Run().running);
    EXPECT_EQ(start->text(), Text(*window, TextId::StartBackup));
    EXPECT_TRUE(Find<QPushButton>(*window, "addFileButton")->isEnabled());
    EXPECT_TRUE(window->Menu().Action(CommandId::AddFile)->isEnabled());
    EXPECT_TRUE(window->Menu().Action(CommandId::Restore)->isEnabled());
    // A stopped run is no completed backup.
    EXPECT_EQ(window->Setup().lastRun, "");
    ASSERT_FALSE(window->Run().reportLines.empty());
    EXPECT_TRUE(window->Run().reportLines.back().ends_with(window->Texts().GetText(TextId::RunCancelled)));
}

TEST_F(MainWindowRunTest, ClosingDuringARunLetsTheRunFinishItsEndStepsFirst) {
    PrepareFiveFiles(60);
    auto window = OpenWindow();
    window->show();
    QSignalSpy finished(window.get(), &QDialog::finished);
    bool stillOpen = false;
    QTimer::singleShot(0, window.get(), [&] {
        window->close();
        stillOpen = window->isVisible() && finished.isEmpty();
    });

    window->OnCommand(CommandId::StartBackupNow);

    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(finished.size(), 1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);
    // The cut-short run logged its own end line and the project was saved, but
    // not with this run as its last completed backup.
    const std::string log = ReadTestFile(home.SettingsFolder() + "/history.txt");
    EXPECT_NE(log.find(window->Texts().GetText(TextId::RunCancelled)), std::string::npos) << log;
    EXPECT_EQ(log.find(window->Texts().GetText(TextId::RunEnded)), std::string::npos) << log;
    BackupSetup saved;
    ASSERT_EQ(LoadProject(DefaultProject(), saved), ProjectLoad::Loaded);
    EXPECT_EQ(saved.lastRun, "");
    EXPECT_EQ(saved.minutesRemaining, 60);
}

TEST_F(MainWindowRunTest, CopyErrorsOfARunAreShownInOneMessage) {
    PrepareFiveFiles(60);
    // A file where the backup folder must be.
    fs::remove_all(target.path());
    WriteTestFile(target.path(), "in the way");
    auto window = OpenWindow();

    window->OnCommand(CommandId::StartBackupNow);

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.startsWith(Text(*window, TextId::FailuresPrefix)));
    EXPECT_TRUE(dialogs.messages[0].text.contains(Q(target.path())));
}

TEST_F(MainWindowRunTest, OpenMessagesOfARunDoNotHoldUpTheScheduler) {
    PrepareFiveFiles(2);
    SetOptions("000110000000000");  // summary message and log on
    // A file where the backup folder must be: every run fails.
    fs::remove_all(target.path());
    WriteTestFile(target.path(), "in the way");
    auto window = OpenWindow();
    auto openNotices = [&](TextId startingWith) {
        int open = 0;
        for (QMessageBox* box : window->findChildren<QMessageBox*>())
            open += box->isVisible() && box->text().startsWith(Text(*window, startingWith));
        return open;
    };
    auto runsLogged = [&] {
        const std::string log = ReadTestFile(home.SettingsFolder() + "/history.txt");
        const std::string started = window->Texts().GetText(TextId::RunStarted);
        int count = 0;
        for (std::size_t at = log.find(started); at != std::string::npos; at = log.find(started, at + 1))
            ++count;
        return count;
    };

    window->OnCommand(CommandId::StartBackupNow);
    ASSERT_EQ(runsLogged(), 1);
    // The summary and the failures stay open; nobody is there to close them.
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_TRUE(dialogs.messages[0].notice && dialogs.messages[1].notice);
    EXPECT_TRUE(dialogs.messages[1].text.startsWith(Text(*window, TextId::FailuresPrefix)));
    ASSERT_EQ(openNotices(TextId::FailuresPrefix), 1);
    ASSERT_EQ(window->findChildren<QMessageBox*>().size(), 2);

    auto* countdown = Find<QLabel>(*window, "countdownLabel");
    window->OnSchedulerTick();
    EXPECT_EQ(countdown->text(), Q(FormatText(window->Texts().GetText(TextId::MinutesRemaining), 1)));
    window->OnSchedulerTick();
    EXPECT_EQ(runsLogged(), 2);
    EXPECT_EQ(countdown->text(), Q(FormatText(window->Texts().GetText(TextId::MinutesRemaining), 2)));
    EXPECT_TRUE(window->SchedulerTimer().isActive());
    // The same failures again are not a second window.
    EXPECT_EQ(openNotices(TextId::FailuresPrefix), 1);

    // A modal message of a command (nothing selected to remove) lets the
    // scheduler's minutes through as well.
    dialogs.whileMessageShown = [&] {
        window->OnSchedulerTick();
        window->OnSchedulerTick();
    };
    window->OnCommand(ControlId::RemoveEntry);
    EXPECT_TRUE(dialogs.MessageTexts().contains(Text(*window, TextId::NoEntrySelected)));
    EXPECT_EQ(runsLogged(), 3);
}

TEST_F(MainWindowRunTest, BackupFolderOfTheWrongFormIsRefusedWithAMessage) {
    PrepareFiveFiles(60);
    BackupSetup setup;
    ASSERT_EQ(LoadProject(DefaultProject(), setup), ProjectLoad::Loaded);
    setup.destination = target.path();  // without "/...": the copies would land beside it
    WriteProject(DefaultProject(), setup);
    auto window = OpenWindow();

    window->OnCommand(CommandId::StartBackupNow);

    EXPECT_EQ(CopiedFiles(), 0);
    EXPECT_TRUE(fs::is_empty(target.path()));
    const QString expected =
        Q("Nothing was backed up: the backup folder \"" + target.path() + "\" does not end in \"/...\".");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, expected);
    EXPECT_EQ(Find<QLabel>(*window, "countdownLabel")->text(), expected);
    EXPECT_TRUE(Find<QPushButton>(*window, "addFileButton")->isEnabled());
    BackupSetup saved;
    ASSERT_EQ(LoadProject(DefaultProject(), saved), ProjectLoad::Loaded);
    EXPECT_EQ(saved.lastRun, "");
}

TEST_F(MainWindowRunTest, WithCopyProgressOnTheRunShowsItsProgressAndEndsAtTheTotals) {
    PrepareFiveFiles(60);
    SetOptions("000000000000000");  // position 2 '0': copy progress shown
    auto window = OpenWindow();
    window->show();
    const RunProgressPanel& panel = window->ProgressPanel();
    EXPECT_TRUE(panel.isHidden());
    bool seenDuringRun = false;
    QTimer::singleShot(0, window.get(), [&] {
        seenDuringRun = !panel.isHidden() && window->Run().running;
        // Over the entry list's lower part, within it.
        const QRect list = Find<QTreeWidget>(*window, "entryList")->geometry();
        EXPECT_TRUE(list.contains(panel.geometry())) << panel.geometry().height();
        EXPECT_GT(panel.geometry().height(), 0);
    });

    window->OnCommand(CommandId::StartBackupNow);

    EXPECT_TRUE(seenDuringRun);
    EXPECT_EQ(CopiedFiles(), 5);
    EXPECT_TRUE(panel.isHidden());
    // The last figures shown: all five files, 9 bytes each.
    const CTranslation& texts = window->Texts();
    EXPECT_EQ(panel.FiguresText(), Q(FormatText(texts.GetText(TextId::ProgressFiles), "5 / 5") + "    " +
                                     FormatText(texts.GetText(TextId::ProgressData), "45 Bytes / 45 Bytes")));
    EXPECT_TRUE(panel.CurrentFileText().contains(QStringLiteral("file")));
    EXPECT_EQ(panel.Bar()->value(), panel.Bar()->maximum());
    EXPECT_TRUE(panel.TimeLeftText().endsWith(Q(FormatText(texts.GetText(TextId::ProgressTimeLeft), "0:00"))))
        << panel.TimeLeftText().toStdString();
}

TEST_F(MainWindowRunTest, WithCopyProgressOffNoProgressAppears) {
    PrepareFiveFiles(60);
    SetOptions("001000000000000");
    auto window = OpenWindow();
    bool shownDuringRun = false;
    QTimer::singleShot(0, window.get(), [&] { shownDuringRun = !window->ProgressPanel().isHidden(); });

    window->OnCommand(CommandId::StartBackupNow);

    EXPECT_EQ(CopiedFiles(), 5);
    EXPECT_FALSE(shownDuringRun);
    EXPECT_TRUE(window->ProgressPanel().isHidden());
    EXPECT_TRUE(window->ProgressPanel().FiguresText().isEmpty());
}

TEST(WindowTransferReporterTest, PumpsAtMostEveryTwentyFiveMillisecondsAndGathersErrorsPerRun) {
    int pumps = 0;
    WindowTransferReporter reporter([&] { ++pumps; });
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10000; ++i) reporter.ReportProgress({});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(pumps, 1);
    EXPECT_LE(pumps, 1 + elapsed / std::chrono::milliseconds(25));

    reporter.ReportError("/a", "no space left");
    reporter.ReportError("/b", "");
    EXPECT_EQ(reporter.TakeErrors(), (std::vector<std::string>{"/a: no space left", "/b"}));
    EXPECT_TRUE(reporter.TakeErrors().empty());
}

// ------------------------------------------------------------ window behaviour

TEST_F(MainWindowTest, EscapeAndEnterEndTheWindow) {
    auto window = OpenWindow();
    window->show();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);

    auto second = OpenWindow();
    second->show();
    Find<QLineEdit>(*second, "daysEdit")->setFocus();
    QTest::keyClick(Find<QLineEdit>(*second, "daysEdit"), Qt::Key_Return);
    EXPECT_FALSE(second->isVisible());
    EXPECT_EQ(second->result(), QDialog::Accepted);

    auto third = OpenWindow();
    third->show();
    third->OnCommand(CommandId::Exit);
    EXPECT_FALSE(third->isVisible());

    // The keypad's Enter carries the keypad modifier and still ends the window.
    auto fourth = OpenWindow();
    fourth->show();
    Find<QLineEdit>(*fourth, "daysEdit")->setFocus();
    QTest::keyClick(Find<QLineEdit>(*fourth, "daysEdit"), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(fourth->isVisible());
    EXPECT_EQ(fourth->result(), QDialog::Accepted);
}

TEST_F(MainWindowTest, LayoutFollowsTheClientSize) {
    auto window = OpenWindow();
    window->show();
    QWidget* client = Find<QWidget>(*window, "clientArea");
    const QFontMetrics metrics(client->font());
    EXPECT_EQ(client->height(), 271 * metrics.height() / 8);
    EXPECT_EQ(client->width(), 421 * metrics.averageCharWidth() / 4);

    // The drawn pixel layout, scaled with the font, and the button column as
    // wide as its widest caption needs.
    const MainWindowControls& c = window->Controls();
    const MainWindowGrid grid = MeasureMainWindow(c);
    EXPECT_DOUBLE_EQ(grid.scale, LayoutScale(client->font()));
    const auto px = [&grid](int pixels) { return grid.Px(pixels); };
    const int B = grid.buttonWidth;
    EXPECT_GE(B, px(110));
    for (const QSize size : {QSize(900, 620), QSize(1024, 760)}) {
        window->resize(size);
        const int W = client->width();
        const int H = client->height();
        EXPECT_EQ(W, size.width());
        EXPECT_EQ(client->geometry().bottom(), size.height() - 1);
        const int buttonLeft = W - px(24) - B;
        const int behaviourLeft = px(18) + grid.intervalWidth;
        EXPECT_EQ(c.entryList->geometry(), QRect(px(22), px(62), buttonLeft - px(42), H - px(296)));
        EXPECT_EQ(c.removeEntry->geometry(), QRect(buttonLeft, H - px(254), B, px(22)));
        EXPECT_EQ(c.destination->geometry(), QRect(px(22), H - px(191), buttonLeft - px(42), px(22)));
        EXPECT_EQ(c.days->geometry(), QRect(px(41), H - px(124), px(29), px(18)));
        EXPECT_EQ(c.behaviourGroup->geometry(),
                  QRect(behaviourLeft, H - px(151), buttonLeft - px(22) - behaviourLeft, px(108)));
        EXPECT_EQ(c.startWithSession->geometry(),
                  QRect(behaviourLeft + px(19), H - px(79), buttonLeft - px(51) - behaviourLeft, px(30)));
        EXPECT_EQ(c.startBackup->geometry(), QRect(buttonLeft, H - px(95), B, px(52)));
        EXPECT_EQ(c.countdown->geometry().topLeft(), QPoint(px(7), H - px(25)));
        EXPECT_EQ(c.countdown->width(), W - px(14));
    }
}

TEST_F(MainWindowTest, MinimiseToTrayAddsOneIconAndAClickBringsTheWindowBack) {
    trayAvailable = true;
    auto window = OpenWindow();
    window->show();
    window->OnCommand(CommandId::MinimizeToTray);
    EXPECT_TRUE(window->Tray().IsShown());
    EXPECT_FALSE(window->isVisible());
    QMenu* firstMenu = window->Tray().Menu();

    window->OnCommand(CommandId::MinimizeToTray);
    EXPECT_EQ(window->Tray().Menu(), firstMenu) << "a second icon was set up";
    EXPECT_FALSE(window->isVisible());

    emit window->Tray().Menu()->aboutToShow();
    const QList<QAction*> items = window->Tray().Menu()->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), Text(*window, TextId::TrayShowMainWindow));
    EXPECT_EQ(items[1]->text(), Text(*window, TextId::TrayExit));

    emit window->Tray().Icon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
    EXPECT_FALSE(window->Tray().IsShown());

    // Exit from the tray menu ends the window.
    window->OnCommand(CommandId::MinimizeToTray);
    QSignalSpy finished(window.get(), &QDialog::finished);
    window->Tray().Menu()->actions().at(1)->trigger();
    EXPECT_EQ(finished.size(), 1);
    EXPECT_FALSE(window->Tray().IsShown());
}

TEST_F(MainWindowTest, WithoutANotificationAreaTheWindowStaysAsItIs) {
    auto window = OpenWindow();
    window->show();
    window->OnCommand(CommandId::MinimizeToTray);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->Tray().IsShown());
}

// ------------------------------------------------------------ project, help, about

TEST_F(MainWindowTest, OpenSaveAndSaveAsWorkOnProjectFiles) {
    auto window = OpenWindow();
    const std::string notAProject = home.path() + "/notes.tarn";
    WriteTestFile(notAProject, "tarnwick backup project\r\n");

    dialogs.openFilesAnswers.push_back({Q(notAProject)});
    window->OnCommand(CommandId::OpenProject);
    ASSERT_EQ(dialogs.openFileRequests.size(), 1u);
    EXPECT_EQ(dialogs.openFileRequests[0].filter, "tarn Files (*.tarn)");
    EXPECT_FALSE(dialogs.openFileRequests[0].several);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              Q(FormatText(window->Texts().GetText(TextId::NotAProjectFile), notAProject)));
    EXPECT_EQ(window->Setup().currentProjectFile, DefaultProject());
    EXPECT_EQ(ReadTestFile(notAProject), "tarnwick backup project\r\n");

    BackupSetup other;
    other.destination = "/srv/other/...";
    other.entries = {"/home/ann/a.txt", "-/home/ann/b.txt"};
    const std::string otherProject = home.path() + "/other.tarn";
    WriteProject(otherProject, other);
    dialogs.openFilesAnswers.push_back({Q(otherProject)});
    window->OnCommand(CommandId::OpenProject);
    EXPECT_EQ(window->Setup().currentProjectFile, otherProject);
    EXPECT_EQ(Find<QTreeWidget>(*window, "entryList")->topLevelItemCount(), 2);
    EXPECT_EQ(Find<QLineEdit>(*window, "destinationEdit")->text(), "/srv/other/...");

    window->OnCommand(CommandId::SaveProject);
    EXPECT_EQ(dialogs.messages.back().text, Text(*window, TextId::ProjectSaved));

    // Save as copies the default project, not the opened one.
    const std::string copy = home.path() + "/copy.tarn";
    dialogs.saveFileAnswers.push_back(Q(copy));
    window->OnCommand(CommandId::SaveProjectAs);
    EXPECT_EQ(ReadTestFile(copy), ReadTestFile(DefaultProject()));
    EXPECT_EQ(dialogs.messages.back().text, Text(*window, TextId::ProjectSaved));
}

TEST_F(MainWindowTest, OpenOfAProjectThatCannotBeWrittenBackChangesNothingAndSaysWhy) {
    BackupSetup current;
    current.destination = "/srv/current/...";
    current.entries = {"/home/ann/current.txt"};
    PrepareProject(current);
    auto window = OpenWindow();
    // LF line ends: opening writes the project back normalised, and the file
    // size limit makes that write fail as a full or read-only medium would.
    const std::string opened = home.path() + "/opened.tarn";
    const std::string bytes =
        "Tarnwick Backup Project\n==\n\n/srv/opened/...\n5\n5\n\n/" + std::string(300, 'o') + "*";
    WriteTestFile(opened, bytes);
    dialogs.openFilesAnswers.push_back({Q(opened)});
    {
        FileSizeLimit limit(100);
        window->OnCommand(CommandId::OpenProject);
    }
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(Q(opened))) << dialogs.messages[0].text.toStdString();
    EXPECT_EQ(window->Setup().currentProjectFile, DefaultProject());
    EXPECT_EQ(window->Setup().destination, current.destination);
    EXPECT_EQ(window->Setup().entries, current.entries);
    EXPECT_EQ(ReadTestFile(opened), bytes);

    // The next save still writes the current project into its own file.
    window->OnCommand(CommandId::SaveProject);
    BackupSetup saved;
    ASSERT_EQ(ReadProject(DefaultProject(), saved), ProjectLoad::Loaded);
    EXPECT_EQ(saved.destination, current.destination);
    EXPECT_EQ(saved.entries, current.entries);
}

TEST_F(MainWindowTest, SaveAsWithoutTheDefaultProjectSaysSoInsteadOfSaved) {
    auto window = OpenWindow();
    fs::remove(DefaultProject());
    const std::string copy = home.path() + "/copy.tarn";
    dialogs.saveFileAnswers.push_back(Q(copy));
    window->OnCommand(CommandId::SaveProjectAs);
    EXPECT_FALSE(fs::exists(copy));
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_NE(dialogs.messages.back().text, Text(*window, TextId::ProjectSaved));
    EXPECT_TRUE(dialogs.messages.back().text.contains(Q(DefaultProject())));
}

TEST_F(MainWindowTest, HelpWebsiteAndAboutGoThroughTheDesktop) {
    auto window = OpenWindow();
    window->show();
    window->OnCommand(CommandId::ShowHelp);
    QTest::keyClick(window.get(), Qt::Key_F1);
    window->OnCommand(CommandId::Website);
    ASSERT_EQ(dialogs.openedWithDesktop.size(), 3u);
    EXPECT_EQ(dialogs.openedWithDesktop[0], Q(BinFolder() + "/help.html"));
    EXPECT_EQ(dialogs.openedWithDesktop[1], Q(BinFolder() + "/help.html"));
    EXPECT_EQ(dialogs.openedWithDesktop[2], Q(Settings().GetSetting("Homepage")));

    QString version;
    dialogs.dialogScripts.push_back([&](QDialog& dialog) {
        version = dialog.findChild<QLabel*>("versionLabel")->text();
        dialog.accept();
    });
    window->OnCommand(CommandId::About);
    ASSERT_EQ(dialogs.dialogsRun.size(), 1u);
    EXPECT_EQ(dialogs.dialogsRun[0], "CAboutDlg");
    EXPECT_EQ(version, "Tarnwick Backup Version 7.00");
}

TEST_F(MainWindowTest, ASecondInstanceAsksTheFirstToComeForward) {
    const QString name = QStringLiteral("tarnwick-test-%1").arg(QCoreApplication::applicationPid());
    SingleInstance first(name);
    ASSERT_TRUE(first.Claim());
    QSignalSpy activation(&first, &SingleInstance::ActivationRequested);

    SingleInstance second(name);
    EXPECT_FALSE(second.Claim());
    EXPECT_TRUE(activation.wait(2000));
}

}  // namespace
