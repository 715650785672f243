#include "app/CBackupDlg.h"

#include "app/BehaviourSettings.h"
#include "app/CAboutDlg.h"
#include "app/CommandIds.h"
#include "app/DesktopNotifier.h"
#include "app/ErrorText.h"
#include "app/MainMenu.h"
#include "app/ProgramIcon.h"
#include "app/ProjectFileWatch.h"
#include "app/RestoreFromWindow.h"
#include "app/RunEndNotice.h"
#include "app/RunProgressPanel.h"
#include "app/TrayPresence.h"
#include "app/WindowTransferReporter.h"
#include "dialogs/Dialogs.h"
#include "engine/Countdown.h"
#include "language/LanguageCommand.h"
#include "options/OptionsCommand.h"
#include "platform/ProcessInfo.h"
#include "sources/Entries.h"
#include "storage/FirstStart.h"
#include "storage/OptionString.h"
#include "storage/ProjectFile.h"
#include "util/FileError.h"
#include "util/SafeFormat.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTreeWidget>

#include <algorithm>

namespace {

QString Qt8(const std::string& text) {
    return QString::fromUtf8(text);
}
std::string Bytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
QString PathText(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// The set-up controls a run keeps dark, by command id; the start button stays
// live as the stop request.
const int kSetupMenuCommands[] = {
    CommandId::OpenProject,      CommandId::Language,           CommandId::Options,
    CommandId::AddFile,          CommandId::AddFolder,          CommandId::AddSpecialFolder,
    CommandId::AddFileException, CommandId::AddFolderException, CommandId::RemoveEntry};

void SetTextIfChanged(QLineEdit* box, const std::string& text) {
    const QString value = Qt8(text);
    if (box->text() != value) box->setText(value);
}

}  // namespace

MainWindowEnvironment MainWindowEnvironment::FromProcess() {
    MainWindowEnvironment environment;
    environment.programFolder = ::ProgramFolder();
    environment.executablePath = ExecutablePath();
    environment.commandLine = CommandLineText();
    environment.clock = &SystemClock();
    environment.trayAvailable = &QSystemTrayIcon::isSystemTrayAvailable;
    environment.notificationBus = [] { return QDBusConnection::sessionBus(); };
    return environment;
}

CBackupDlg::CBackupDlg(Dialogs& dialogs, MainWindowEnvironment environment, QWidget* parent)
    : QDialog(parent),
      dialogs_(dialogs),
      environment_(std::move(environment)),
      settings_(environment_.programFolder),
      texts_(environment_.programFolder),
      client_(new QWidget(this)),
      controls_((LoadIconResources(), CreateMainWindowControls(client_))),
      progressPanel_(new RunProgressPanel(controls_.entryList, texts_)),
      menu_(new MainMenu(this)),
      tray_(new TrayPresence(this, texts_,
                             environment_.trayAvailable
                                 ? environment_.trayAvailable
                                 : std::function<bool()>(&QSystemTrayIcon::isSystemTrayAvailable))),
      reporter_(std::make_unique<WindowTransferReporter>([this] { PumpMessages(); })),
      entryCommands_(*this, dialogs_, texts_),
      projectWatch_(new ProjectFileWatch(this)) {
    if (environment_.clock == nullptr) environment_.clock = &SystemClock();
    setObjectName(QStringLiteral("CBackupDlg"));
    // The caption is the product's name and stays the same in every language.
    setWindowTitle(QStringLiteral("Tarnwick Backup 7"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ProgramIcon());
    setSizeGripEnabled(false);
    client_->setObjectName(QStringLiteral("clientArea"));
    timer_.setObjectName(QStringLiteral("schedulerTimer"));
    timer_.setInterval(kSchedulerPeriodMs);
    connect(&timer_, &QTimer::timeout, this, &CBackupDlg::OnSchedulerTick);
    connect(menu_, &MainMenu::CommandChosen, this, &CBackupDlg::OnCommand);
    connect(projectWatch_, &ProjectFileWatch::Changed, this, &CBackupDlg::OnProjectChangedOnDisk);
    connect(tray_, &TrayPresence::RestoreRequested, this,
            [this] { OnCommand(CommandId::TrayShowMainWindow); });
    connect(tray_, &TrayPresence::ExitRequested, this, [this] { OnCommand(CommandId::TrayExit); });
    // A click on a notification brings the window back rather than the log: the
    // window holds the notice that names every failure, and the log may be off.
    notifier_ = std::make_unique<DesktopNotifier>(
        environment_.notificationBus ? environment_.notificationBus()
                                     : QDBusConnection(QStringLiteral("tarnwick-no-bus")),
        texts_,
        [this](const QString& summary, const QString& body) {
            tray_->ShowMessage(windowIcon(), summary, body);
        },
        [this] { RestoreFromTray(); });
    ConnectControls();
    OnInitDialog();

    // Sized once the menu bar carries its texts, so its height is final.
    menu_->Bar()->ensurePolished();
    const Qt::WindowStates state = windowState();  // a resize would drop "maximised"
    const QSize client =
        InitialClientSize(font()).expandedTo(MinimumFittingClientSize(MeasureMainWindow(controls_)));
    resize(client.width(), client.height() + menu_->Bar()->sizeHint().height());
    setWindowState(state);
}

CBackupDlg::~CBackupDlg() {
    timer_.stop();
    tray_->Hide();
}

void CBackupDlg::ConnectControls() {
    const MainWindowControls& c = controls_;
    for (QPushButton* button :
         {c.addFile, c.addFolder, c.addSpecialFolder, c.removeEntry, c.browse, c.options, c.startBackup}) {
        const int id = button->property("controlId").toInt();
        connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    }
    connect(c.fullBackup, &QRadioButton::clicked, this, [this] { OnCommand(ControlId::FullBackup); });
    connect(c.incrementalBackup, &QRadioButton::clicked, this,
            [this] { OnCommand(ControlId::IncrementalBackup); });
    connect(c.startWithSession, &QCheckBox::clicked, this,
            [this] { OnCommand(ControlId::StartWithSession); });
    // The selection mark is the row the user last selected; the keyboard focus
    // alone makes a current row but no mark.
    connect(c.entryList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { selectionMark_ = selectionMark_ || !controls_.entryList->selectedItems().isEmpty(); });
    // Only the user's edits restart the countdown, not the window's own refreshes.
    for (QLineEdit* box : {c.days, c.hours, c.minutes})
        connect(box, &QLineEdit::textEdited, this,
                [this] { RunEngine([](BackupContext& context) { RecomputeInterval(context); }); });
}

BackupContext CBackupDlg::Context() {
    BackupContext context{
        setup_,
        run_,
        *this,
        texts_,
        *reporter_,
        settings_.SettingsFolder().empty() ? environment_.programFolder : settings_.SettingsFolder(),
        environment_.programFolder,
        environment_.commandLine,
        *environment_.clock};
    // Option position 2: '0' shows the progress of copies and uploads.
    context.showProgress = !OptionIsNotZero(setup_.optionFlags, Option::kNoCopyAnimation);
    return context;
}

// ---------------------------------------------------------------- start-up

void CBackupDlg::OnInitDialog() {
    try {
        texts_.Load();
    } catch (const std::exception& error) {
        // The window still opens; every text then reads "---".
        ReportError(error);
    }
    Guarded([this] { settings_.ResolveSettingsFile(); });
    ApplyTexts();

    bool haveProject = false;
    Guarded([this, &haveProject] {
        setup_.currentProjectFile = ProvisionDefaultProject(settings_);
        haveProject = !setup_.currentProjectFile.empty();
        ProvisionHistoryLog(settings_);
    });
    Guarded([this] { ApplyOptions(); });
    if (haveProject) Guarded([this] { LoadCurrentProject(); });
    Refresh();

    // Without a project file every minute's save would fail again; the window
    // then shows what it has without a schedule.
    if (!haveProject) return;
    StartTimer();
    RunEngine([](BackupContext& context) { RecomputeInterval(context); });
}

void CBackupDlg::ApplyTexts() {
    const MainWindowControls& c = controls_;
    auto text = [this](TextId id) { return Qt8(texts_.GetText(id)); };
    menu_->SetTexts(texts_);

    c.filesGroup->setTitle(text(TextId::FilesGroup));
    c.addFile->setText(text(TextId::AddFile));
    c.addFolder->setText(text(TextId::AddFolder));
    c.addSpecialFolder->setText(text(TextId::AddSpecialFolder));
    c.removeEntry->setText(text(TextId::RemoveEntry));
    c.backupFolderGroup->setTitle(text(TextId::BackupFolderGroup));
    c.browse->setText(text(TextId::Browse));
    c.intervalGroup->setTitle(text(TextId::IntervalGroup));
    c.behaviourGroup->setTitle(text(TextId::BehaviourGroup));
    c.fullBackup->setText(text(TextId::FullBackup));
    c.incrementalBackup->setText(text(TextId::IncrementalBackup));
    c.startWithSession->setText(text(TextId::StartWithSession));
    c.options->setText(text(TextId::Options));
    c.startBackup->setText(text(run_.running ? TextId::StopBackup : TextId::StartBackup));
    unitTexts_[0] = texts_.GetText(TextId::Days);
    unitTexts_[1] = texts_.GetText(TextId::Hours);
    unitTexts_[2] = texts_.GetText(TextId::Minutes);
    c.entryList->setHeaderLabels({text(TextId::EntryColumnHeader)});
    ApplyFonts(c);  // new header labels reset the column's width

    c.addFile->setToolTip(text(TextId::TipAddFile));
    c.addFolder->setToolTip(text(TextId::TipAddFolder));
    c.addSpecialFolder->setToolTip(text(TextId::TipAddSpecialFolder));
    c.removeEntry->setToolTip(text(TextId::TipRemoveEntry));
    c.browse->setToolTip(text(TextId::TipBrowse));
    c.startBackup->setToolTip(text(TextId::TipStartBackup));
    c.options->setToolTip(text(TextId::TipOptions));
    GrowToFitCaptions();
}

void CBackupDlg::GrowToFitCaptions() {
    // Captions of another language or font may need more room than the window has.
    const QSize needed = MinimumFittingClientSize(MeasureMainWindow(controls_));
    if (needed.width() > client_->width() && !isMaximized())
        resize(std::max(width(), needed.width()), height());
    LayoutMainWindowControls(controls_, client_->width(), client_->height());
}

void CBackupDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        ApplyAccentColours(controls_);
    if (event->type() == QEvent::FontChange) {
        ApplyFonts(controls_);
        GrowToFitCaptions();
    }
}

void CBackupDlg::ApplyOptions() {
    setup_.optionFlags = settings_.GetOptions();
    startWithSession_ = OptionIsNotZero(setup_.optionFlags, Option::kStartWithSession) ? 1 : 0;
    setup_.backupMode = OptionIsNotZero(setup_.optionFlags, Option::kIncrementalMode) ? 1 : 0;
    setup_.breakLongPaths = OptionIsNotZero(setup_.optionFlags, Option::kBreakLongPaths);
    if (OptionIsOne(setup_.optionFlags, Option::kStartMaximized))
        setWindowState(windowState() | Qt::WindowMaximized);
}

void CBackupDlg::LoadCurrentProject() {
    if (LoadProject(setup_.currentProjectFile, setup_) == ProjectLoad::Loaded) ShowLoadedProject();
}

void CBackupDlg::ShowLoadedProject() {
    controls_.entryList->clear();
    selectionMark_ = false;
    for (const std::string& entry : setup_.entries)
        AppendRow(setup_.breakLongPaths ? BrokenDownForm(entry) : entry);
    // A freshly loaded destination always shows broken down, whatever the switch.
    destinationBoxText_ = DestinationBoxText(setup_.destination, true);
    Refresh();
    projectWatch_->Watch(setup_.currentProjectFile);
}

void CBackupDlg::ShowOpenedProject() {
    ShowLoadedProject();
    ShowCountdownOfSetup();
    Refresh();
}

void CBackupDlg::ShowCountdownOfSetup() {
    if (std::optional<std::string> timer = TimerInChargeText(texts_, setup_)) {
        run_.countdownText = std::move(*timer);
        return;
    }
    run_.countdownText = IntervalFromBoxes(setup_) == 0
                             ? texts_.GetText(TextId::NoSchedule)
                             : CountdownText(texts_, setup_, setup_.minutesRemaining);
}

void CBackupDlg::OnProjectChangedOnDisk() {
    // A run saves its own state at its end, and a dialog may be working on the
    // set-up: the file is looked at once they are over.
    if (engineDepth_ > 0 || run_.running || QApplication::activeModalWidget() != nullptr) {
        projectWatch_->AskAgainLater();
        return;
    }
    Guarded([this] { ReloadIfChangedOnDisk(); });
}

void CBackupDlg::ReloadIfChangedOnDisk() {
    const std::string path = setup_.currentProjectFile;
    BackupSetup onDisk = setup_;
    try {
        if (path.empty() || ReadProject(path, onDisk) != ProjectLoad::Loaded) return;
    } catch (const FileError&) {
        return;  // unreadable now: the next save says so
    }
    // The window holds what it saved itself; its countdown goes on undisturbed.
    if (SameProjectLines(onDisk, setup_)) return;
    // Opened as the Open command opens it; the minutes remaining and the last
    // run are the file's, so the countdown goes on from a run made elsewhere
    // instead of overwriting its time.
    if (OpenProject(path, setup_) == ProjectLoad::Loaded) ShowOpenedProject();
}

// ---------------------------------------------------------------- commands

void CBackupDlg::Guarded(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& error) {
        ReportError(error);
    }
}

// The window's own messages are notices: one left open on an unattended
// machine must not hold up the scheduler's minutes.
void CBackupDlg::ReportError(const std::exception& error) {
    dialogs_.ShowNotice(this, Qt8(ErrorMessage(error, texts_)), Qt8(MessageCaption(texts_)),
                        Dialogs::Icon::Warning);
}

void CBackupDlg::RunEngine(const std::function<void(BackupContext&)>& step, bool scheduled) {
    ++engineDepth_;
    Guarded([&] {
        BackupContext context = Context();
        step(context);
    });
    const std::vector<std::string> errors = reporter_->TakeErrors();
    if (!errors.empty())
        dialogs_.ShowNotice(this, Qt8(TransferErrorsMessage(errors, texts_)), Qt8(MessageCaption(texts_)),
                            Dialogs::Icon::Warning);
    // A program that is ending tells nothing: its user just asked it to go.
    if (engineDepth_ == 1 && std::exchange(runEnded_, false) && !endPending_) NotifyRunEnd(scheduled);
    --engineDepth_;
    if (engineDepth_ == 0 && endPending_) {
        endPending_ = false;
        done(pendingResult_);
    }
}

void CBackupDlg::OnSchedulerTick() {
    // A tick that arrives while a run pumps events is skipped rather than
    // nested. Messages do not hold the engine: they are notices.
    if (engineDepth_ > 0 || run_.running) return;
    // The tick saves the project: a change on disk not yet reported must be
    // taken first, not overwritten.
    Guarded([this] { ReloadIfChangedOnDisk(); });
    RunEngine([](BackupContext& context) { Tick(context); }, true);
}

void CBackupDlg::NotifyRunEnd(bool scheduled) {
    const RunEnd end{run_.failures.size(), run_.cancelRequested, scheduled, !isVisible() || isMinimized()};
    if (const std::optional<RunEndNoticeText> notice = RunEndNotice(end, texts_))
        notifier_->Notify(Qt8(notice->summary), Qt8(notice->body));
}

void CBackupDlg::OnCommand(int id) {
    switch (id) {
        case ControlId::AddFile:
        case CommandId::AddFile:
            Guarded([this] { entryCommands_.AddFiles(); });
            break;
        case ControlId::AddFolder:
        case CommandId::AddFolder:
            Guarded([this] { entryCommands_.AddFolder(); });
            break;
        case ControlId::AddSpecialFolder:
        case CommandId::AddSpecialFolder:
            Guarded([this] { entryCommands_.AddSpecialFolder(); });
            break;
        case ControlId::RemoveEntry:
        case CommandId::RemoveEntry:
            Guarded([this] { entryCommands_.RemoveEntries(); });
            break;
        case CommandId::AddFileException:
            Guarded([this] { entryCommands_.AddFileExceptions(); });
            break;
        case CommandId::AddFolderException:
            Guarded([this] { entryCommands_.AddFolderException(); });
            break;
        case ControlId::Browse:
            Guarded([this] { entryCommands_.BrowseDestination(); });
            break;
        case ControlId::StartBackup:
            OnStartButton();
            break;
        case CommandId::StartBackupNow:
            if (engineDepth_ == 0) RunEngine([](BackupContext& context) { StartNow(context); });
            break;
        case ControlId::FullBackup:
            OnModeChosen(0);
            break;
        case ControlId::IncrementalBackup:
            OnModeChosen(1);
            break;
        case ControlId::StartWithSession:
            OnStartWithSessionClicked();
            break;
        case ControlId::Options:
        case CommandId::Options:
            OnOptions();
            break;
        case CommandId::OpenProject:
            OnOpenProject();
            break;
        case CommandId::SaveProject:
            OnSaveProject();
            break;
        case CommandId::SaveProjectAs:
            OnSaveProjectAs();
            break;
        case CommandId::Restore:
            // Held in the engine so the scheduler's minutes wait for it rather than start a run meanwhile.
            if (engineDepth_ == 0 && !run_.running)
                RunEngine([this](BackupContext& context) {
                    RestoreFromWindow(this, dialogs_, texts_, setup_, context.settingsFolder);
                });
            break;
        case CommandId::Language:
            OnLanguage();
            break;
        case CommandId::ShowHelp:
            OnShowHelp();
            break;
        case CommandId::Website:
            OnWebsite();
            break;
        case CommandId::About:
            OnAbout();
            break;
        case CommandId::Exit:
            PullValues();
            done(QDialog::Accepted);
            break;
        case CommandId::MinimizeToTray:
            MinimizeToTray();
            break;
        case CommandId::TrayShowMainWindow:
            RestoreFromTray();
            break;
        case CommandId::TrayExit:
            tray_->Hide();
            done(QDialog::Rejected);
            break;
        default:
            break;
    }
}

void CBackupDlg::OnStartButton() {
    if (run_.running) {
        RequestCancel(run_);
        return;
    }
    OnCommand(CommandId::StartBackupNow);
}

void CBackupDlg::OnModeChosen(int backupMode) {
    Guarded([this, backupMode] { StoreBackupMode(settings_, setup_, backupMode); });
}

void CBackupDlg::OnStartWithSessionClicked() {
    Guarded([this] {
        startWithSession_ =
            ToggleStartWithSession(settings_, setup_, startWithSession_, environment_.executablePath);
    });
    // The box shows what was stored, also when storing failed.
    Refresh();
}

void CBackupDlg::OnOptions() {
    Guarded([this] {
        if (!RunOptionsCommand(this, dialogs_, setup_, settings_)) return;
        PullValues();
        ShowCountdownOfSetup();
        setup_.breakLongPaths = OptionIsOne(setup_.optionFlags, Option::kBreakLongPaths);
        Refresh();
    });
}

void CBackupDlg::OnLanguage() {
    bool changed = false;
    Guarded([this, &changed] { changed = RunLanguageCommand(this, dialogs_, settings_, texts_); });
    if (changed) OnInitDialog();
}

void CBackupDlg::OnOpenProject() {
    const QStringList chosen = dialogs_.OpenFiles(this, QStringLiteral("tarn Files (*.tarn)"),
                                                  PathText(settings_.ProgramFolder()), false);
    if (chosen.isEmpty()) return;
    const std::string path = Bytes(chosen.front());
    Guarded([this, &path] {
        switch (OpenProject(path, setup_)) {
            case ProjectLoad::Loaded:
                ShowOpenedProject();
                break;
            case ProjectLoad::NotAProject:
                dialogs_.ShowMessage(this, Qt8(FormatText(texts_.GetText(TextId::NotAProjectFile), path)),
                                     Qt8(MessageCaption(texts_)), Dialogs::Buttons::Ok,
                                     Dialogs::Icon::Warning);
                break;
            case ProjectLoad::Missing:
                break;
        }
    });
}

void CBackupDlg::OnSaveProject() {
    Guarded([this] {
        PullValues();
        WriteProject(setup_.currentProjectFile, setup_);
        ShowMessage(texts_.GetText(TextId::ProjectSaved), MessageCaption(texts_));
    });
}

void CBackupDlg::OnSaveProjectAs() {
    const std::optional<QString> chosen =
        dialogs_.SaveFile(this, QStringLiteral("tarn files (*.tarn)"), QStringLiteral("tarn"),
                          Qt8(texts_.GetText(TextId::SaveAsInitialName)));
    if (!chosen) return;
    Guarded([this, &chosen] {
        SaveProjectAs(settings_, Bytes(*chosen));
        ShowMessage(texts_.GetText(TextId::ProjectSaved), MessageCaption(texts_));
    });
}

void CBackupDlg::OnShowHelp() {
    dialogs_.OpenWithDesktop(PathText(settings_.ProgramFolder() + "/help.html"));
}

void CBackupDlg::OnWebsite() {
    Guarded([this] {
        const std::string address = settings_.GetSetting("Homepage");
        if (!address.empty()) dialogs_.OpenWithDesktop(Qt8(address));
    });
}

void CBackupDlg::OnAbout() {
    CAboutDlg about(this);
    dialogs_.Run(about);
}

// ---------------------------------------------------------------- ending

void CBackupDlg::done(int result) {
    if (run_.running || engineDepth_ > 0) {
        // The run finishes its end steps (log end line, project saved) first.
        endPending_ = true;
        pendingResult_ = result;
        RequestCancel(run_);
        if (waitLoop_ != nullptr) waitLoop_->quit();
        return;
    }
    timer_.stop();
    tray_->Hide();
    QDialog::done(result);
}

void CBackupDlg::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::HelpContents)) {
        OnCommand(CommandId::ShowHelp);
        event->accept();
        return;
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // The keypad's Enter arrives with the keypad modifier; it is no chord.
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // A focused push button takes Enter as a click; anywhere else Enter ends
        // the window, like Escape.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        } else {
            PullValues();
            done(QDialog::Accepted);
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---------------------------------------------------------------- layout

void CBackupDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int menuHeight = menu_->Bar()->sizeHint().height();
    menu_->Bar()->setGeometry(0, 0, width(), menuHeight);
    client_->setGeometry(0, menuHeight, width(), std::max(0, height() - menuHeight));
    LayoutMainWindowControls(controls_, client_->width(), client_->height());
}

// ---------------------------------------------------------------- tray

void CBackupDlg::MinimizeToTray() {
    // The icon may be there already, raised for a message.
    if (!tray_->IsShown() && !tray_->Show(windowIcon())) return;
    showMinimized();
    hide();
}

void CBackupDlg::RestoreFromTray() {
    tray_->Hide();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

// ---------------------------------------------------------------- BackupWindow

void CBackupDlg::PullValues() {
    const MainWindowControls& c = controls_;
    setup_.daysText = c.days->text().toStdString();
    setup_.hoursText = c.hours->text().toStdString();
    setup_.minutesText = c.minutes->text().toStdString();
    setup_.backupMode = c.incrementalBackup->isChecked() ? 1 : 0;
}

void CBackupDlg::Refresh() {
    const MainWindowControls& c = controls_;
    SetTextIfChanged(c.destination, destinationBoxText_);
    SetTextIfChanged(c.days, setup_.daysText);
    SetTextIfChanged(c.hours, setup_.hoursText);
    SetTextIfChanged(c.minutes, setup_.minutesText);
    c.daysLabel->setText(Qt8(unitTexts_[0]));
    c.hoursLabel->setText(Qt8(unitTexts_[1]));
    c.minutesLabel->setText(Qt8(unitTexts_[2]));
    (setup_.backupMode == 1 ? c.incrementalBackup : c.fullBackup)->setChecked(true);
    c.startWithSession->setChecked(startWithSession_ == 1);
    c.countdown->setText(Qt8(run_.countdownText));
}

void CBackupDlg::SetStatusLine(const std::string& text) {
    controls_.countdown->setText(Qt8(text));
}

std::string CBackupDlg::StatusLine() const {
    return controls_.countdown->text().toStdString();
}

void CBackupDlg::PumpMessages() {
    // A run asks after every file it looks at; letting the events run at most
    // every 10 ms keeps the window live without repainting it once per file,
    // which on a real display cost more than the copies themselves.
    constexpr qint64 kPumpIntervalMs = 10;
    if (sincePump_.isValid() && sincePump_.elapsed() < kPumpIntervalMs) return;
    sincePump_.start();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void CBackupDlg::SetRunning(bool running) {
    runEnded_ = runEnded_ || (run_.running && !running);
    const MainWindowControls& c = controls_;
    for (QWidget* control : std::initializer_list<QWidget*>{
             c.addFile, c.addFolder, c.removeEntry, c.browse, c.fullBackup, c.incrementalBackup,
             c.startWithSession, c.addSpecialFolder, c.options})
        control->setEnabled(!running);
    // Menu commands that change the set-up or the project would pull the list
    // away under the run; they wait until it is over.
    for (int id : kSetupMenuCommands) menu_->Action(id)->setEnabled(!running);
    menu_->Action(CommandId::Restore)->setEnabled(!running);  // a restore would read copies being written
    c.startBackup->setEnabled(true);
    c.startBackup->setText(Qt8(texts_.GetText(running ? TextId::StopBackup : TextId::StartBackup)));
    GrowToFitCaptions();
}

void CBackupDlg::StartTimer() {
    timer_.start(kSchedulerPeriodMs);
}

void CBackupDlg::StopTimer() {
    timer_.stop();
}

void CBackupDlg::ShowMessage(const std::string& text, const std::string& caption) {
    dialogs_.ShowNotice(this, Qt8(text), Qt8(caption), Dialogs::Icon::None);
}

void CBackupDlg::WaitMilliseconds(int milliseconds) {
    if (endPending_) return;
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    QEventLoop* outer = std::exchange(waitLoop_, &loop);
    loop.exec();
    waitLoop_ = outer;
}

void CBackupDlg::ShowProgress(const RunProgress& progress) {
    progressPanel_->ShowProgress(progress);
}

void CBackupDlg::HideProgress() {
    progressPanel_->HideProgress();
}

// ---------------------------------------------------------------- MainWindowAccess

void CBackupDlg::AppendRow(const std::string& text) {
    auto* row = new QTreeWidgetItem(QStringList{Qt8(text)});
    controls_.entryList->addTopLevelItem(row);
}

std::vector<int> CBackupDlg::SelectedRows() const {
    std::vector<int> rows;
    const QTreeWidget* list = controls_.entryList;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->isSelected()) rows.push_back(i);
    return rows;
}

bool CBackupDlg::HasSelectionMark() const {
    return selectionMark_ && controls_.entryList->topLevelItemCount() > 0;
}

void CBackupDlg::RemoveRow(int row) {
    delete controls_.entryList->takeTopLevelItem(row);
}

void CBackupDlg::ScrollToLastRow() {
    QTreeWidget* list = controls_.entryList;
    if (list->topLevelItemCount() > 0) list->scrollToItem(list->topLevelItem(list->topLevelItemCount() - 1));
}

void CBackupDlg::ShowDestination() {
    destinationBoxText_ = DestinationBoxText(setup_.destination, setup_.breakLongPaths);
    SetTextIfChanged(controls_.destination, destinationBoxText_);
}

bool CBackupDlg::SaveCurrentProject() {
    try {
        WriteProject(setup_.currentProjectFile, setup_);
        return true;
    } catch (const std::exception& error) {
        ReportError(error);
        return false;
    }
}
