#pragma once

#include "app/MainWindowControls.h"
#include "engine/BackupEngine.h"
#include "engine/BackupWindow.h"
#include "engine/RunState.h"
#include "entries/EntryCommands.h"
#include "i18n/CTranslation.h"
#include "storage/BackupSetup.h"
#include "storage/PowerClass.h"
#include "util/TimeText.h"

#include <QDBusConnection>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <exception>
#include <functional>
#include <string>

class Dialogs;
class MainMenu;
class ProjectFileWatch;
class QEventLoop;
class QWidget;
class RunProgressPanel;
class TrayPresence;
class UserNotifier;
class WindowTransferReporter;

// Where the main window finds what lies outside it; tests replace parts.
struct MainWindowEnvironment {
    std::string programFolder;   // templates, translation file, help page
    std::string executablePath;  // what the session's autostart entry starts
    std::string commandLine;     // for the automatic-start marker
    const Clock* clock = nullptr;
    std::function<bool()> trayAvailable;
    // The bus of the desktop's notification service; unset: the tray's messages only.
    std::function<QDBusConnection()> notificationBus;

    // The running program's own values.
    static MainWindowEnvironment FromProcess();
};

// The program's main window: the backup set-up on screen, the menu bar, the
// scheduler's timer and the tray icon. It owns the set-up and the run state;
// the scheduler and the run (engine) and the entry commands work on them
// through the BackupWindow and MainWindowAccess interfaces.
class CBackupDlg : public QDialog, public BackupWindow, public MainWindowAccess {
    Q_OBJECT
public:
    CBackupDlg(Dialogs& dialogs, MainWindowEnvironment environment, QWidget* parent = nullptr);
    ~CBackupDlg() override;

    // The whole start-up sequence; runs again after a language change, after
    // the last entry is removed and after an FTP destination is chosen.
    void OnInitDialog();
    // A menu command or a button, by its id.
    void OnCommand(int id);
    // One minute of the scheduler.
    void OnSchedulerTick();

    const RunState& Run() const { return run_; }
    const CTranslation& Texts() const { return texts_; }
    PowerClass& Settings() { return settings_; }
    const MainWindowControls& Controls() const { return controls_; }
    MainMenu& Menu() { return *menu_; }
    const RunProgressPanel& ProgressPanel() const { return *progressPanel_; }
    TrayPresence& Tray() { return *tray_; }
    QTimer& SchedulerTimer() { return timer_; }
    int StartWithSession() const { return startWithSession_; }
    // Restores the window from the tray (a click on the icon does the same).
    void RestoreFromTray();

    // BackupWindow and MainWindowAccess.
    void PullValues() override;
    void Refresh() override;
    void SetStatusLine(const std::string& text) override;
    std::string StatusLine() const override;
    void PumpMessages() override;
    void SetRunning(bool running) override;
    void StartTimer() override;
    void StopTimer() override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void MinimizeToTray() override;
    void WaitMilliseconds(int milliseconds) override;
    void ShowProgress(const RunProgress& progress) override;
    void HideProgress() override;

    void AppendRow(const std::string& text) override;
    QWidget* Window() override { return this; }
    BackupSetup& Setup() override { return setup_; }
    std::vector<int> SelectedRows() const override;
    bool HasSelectionMark() const override;
    void RemoveRow(int row) override;
    void ScrollToLastRow() override;
    void ShowDestination() override;
    bool SaveCurrentProject() override;
    void PushValues() override { Refresh(); }
    void Reinitialize() override { OnInitDialog(); }

    // Ends the program; while a run is in progress it is cancelled first and
    // the window ends once the run has finished its end steps.
    void done(int result) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    BackupContext Context();
    // Runs a command, reporting what it throws (a file error names its file).
    void Guarded(const std::function<void()>& command);
    void ReportError(const std::exception& error);
    // Runs the scheduler or the run, then shows the run's transfer errors and
    // carries out an end of the program that arrived meanwhile.
    void RunEngine(const std::function<void(BackupContext&)>& step, bool scheduled = false);
    // Tells the desktop how the run that just ended went, when the user should know.
    void NotifyRunEnd(bool scheduled);

    void ConnectControls();
    void ApplyTexts();
    void GrowToFitCaptions();
    void ApplyOptions();
    void LoadCurrentProject();
    void ShowLoadedProject();
    void ShowOpenedProject();
    void ShowCountdownOfSetup();
    // The project file was changed on disk: it is opened again unless it holds
    // what the window holds (the window's own save).
    void OnProjectChangedOnDisk();
    void ReloadIfChangedOnDisk();

    void OnStartButton();
    void OnModeChosen(int backupMode);
    void OnStartWithSessionClicked();
    void OnOptions();
    void OnLanguage();
    void OnOpenProject();
    void OnSaveProject();
    void OnSaveProjectAs();
    void OnShowHelp();
    void OnWebsite();
    void OnAbout();

    Dialogs& dialogs_;
    MainWindowEnvironment environment_;
    PowerClass settings_;
    CTranslation texts_;
    BackupSetup setup_;
    RunState run_;
    int startWithSession_ = 0;
    std::string destinationBoxText_;
    std::string unitTexts_[3];
    bool selectionMark_ = false;

    QWidget* client_;
    MainWindowControls controls_;
    RunProgressPanel* progressPanel_;
    MainMenu* menu_;
    TrayPresence* tray_;
    QTimer timer_;
    std::unique_ptr<WindowTransferReporter> reporter_;
    std::unique_ptr<UserNotifier> notifier_;
    EntryCommands entryCommands_;
    ProjectFileWatch* projectWatch_;

    int engineDepth_ = 0;      // scheduler or run on the call stack
    bool endPending_ = false;  // the program was asked to end during a run
    bool runEnded_ = false;    // a run ended since the engine was entered
    int pendingResult_ = QDialog::Rejected;
    QEventLoop* waitLoop_ = nullptr;
    QElapsedTimer sincePump_;  // since the run last let the window's events run
};
