#include "options/COptions.h"

#include "dialogs/Dialogs.h"
#include "language/FileErrorReport.h"
#include "options/LogTools.h"
#include "storage/HistoryLog.h"
#include "storage/OptionString.h"
#include "ui_COptions.h"
#include "util/FileError.h"
#include "util/LenientNumbers.h"
#include "util/SafeFormat.h"

#include <QEvent>
#include <QFile>
#include <QKeySequence>
#include <QShortcut>

#include <stdexcept>

namespace {

constexpr int kMaxWaitMinutes = 60;
const QString kTitle = QStringLiteral("Tarnwick Backup");

QString FromBytes(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

}  // namespace

COptions::COptions(Dialogs& dialogs, std::string programFolder, QWidget* parent, const Clock& clock)
    : QDialog(parent),
      ui_(std::make_unique<Ui::COptions>()),
      dialogs_(dialogs),
      clock_(clock),
      settings_(programFolder),
      texts_(programFolder) {
    ui_->setupUi(this);
    setWindowTitle(kTitle);
    ui_->realTimeSchedulerLabel->installEventFilter(this);
    connect(ui_->okButton, &QPushButton::clicked, this, &COptions::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &COptions::reject);
    connect(ui_->browseButton, &QPushButton::clicked, this, &COptions::BrowseDefaultProject);
    connect(ui_->helpButton, &QPushButton::clicked, this, &COptions::ShowHelp);
    connect(ui_->showLogButton, &QPushButton::clicked, this, &COptions::ShowLog);
    connect(ui_->emptyLogButton, &QPushButton::clicked, this, &COptions::EmptyLog);
    connect(ui_->printLogButton, &QPushButton::clicked, this, &COptions::PrintLog);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, &COptions::ShowHelp);
}

COptions::~COptions() = default;

void COptions::Initialise() {
    texts_.Load();
    settings_.ResolveSettingsFile();
    SetTexts();
    ShowValues();
}

std::array<COptions::SwitchBox, 8> COptions::Switches() const {
    return {{{ui_->noCopyAnimationCheck, Option::kNoCopyAnimation},
             {ui_->statusMessageCheck, Option::kStatusMessage},
             {ui_->writeLogCheck, Option::kWriteLog},
             {ui_->realTimeSchedulerCheck, Option::kRealTimeScheduler},
             {ui_->indexNamesCheck, Option::kIndexNames},
             {ui_->minimizeOnAutostartCheck, Option::kMinimizeOnAutostart},
             {ui_->breakLongPathsCheck, Option::kBreakLongPaths},
             {ui_->startMaximizedCheck, Option::kStartMaximized}}};
}

void COptions::SetTexts() {
    auto text = [this](TextId id) { return QString::fromStdString(texts_.GetText(id)); };
    ui_->optionsGroup->setTitle(text(TextId::OptionsGroup));
    ui_->noCopyAnimationCheck->setText(text(TextId::OptNoCopyAnimation));
    ui_->statusMessageCheck->setText(text(TextId::OptStatusMessage));
    ui_->logGroup->setTitle(text(TextId::LogGroup));
    ui_->writeLogCheck->setText(text(TextId::OptWriteLog));
    ui_->showLogButton->setText(text(TextId::ShowLog));
    ui_->emptyLogButton->setText(text(TextId::EmptyLog));
    ui_->cancelButton->setText(text(TextId::Cancel));
    ui_->printLogButton->setText(text(TextId::PrintLog));
    ui_->realTimeSchedulerLabel->setText(text(TextId::OptRealTimeScheduler));
    ui_->realTimeSchedulerCheck->setAccessibleName(text(TextId::OptRealTimeScheduler));
    ui_->defaultProjectGroup->setTitle(text(TextId::DefaultProjectGroup));
    ui_->browseButton->setText(text(TextId::OptionsBrowse));
    ui_->helpButton->setText(text(TextId::OptionsHelp));
    ui_->indexNamesCheck->setText(text(TextId::OptIndexNames));
    ui_->minimizeOnAutostartCheck->setText(text(TextId::OptMinimizeOnAutostart));
    ui_->breakLongPathsCheck->setText(text(TextId::OptBreakLongPaths));
    ui_->startMaximizedCheck->setText(text(TextId::OptStartMaximized));
    ui_->waitMinutesLabel->setText(text(TextId::WaitMinutesLabel));
}

void COptions::ShowValues() {
    options_ = settings_.GetOptions();
    for (const SwitchBox& entry : Switches()) entry.box->setChecked(OptionIsOne(options_, entry.position));
    const int minutes = ParseLenientDecimal(std::string_view(options_).substr(Option::kWaitMinutes, 2));
    ui_->defaultProjectEdit->setText(FromBytes(settings_.GetSetting("Path")));
    ui_->waitMinutesEdit->setText(QString::number(minutes));
}

int COptions::ValidatedMinutes() {
    bool isInteger = false;
    const int minutes = ui_->waitMinutesEdit->text().trimmed().toInt(&isInteger, 10);
    if (isInteger && minutes >= 0 && minutes <= kMaxWaitMinutes) return minutes;
    const QString message =
        isInteger ? QStringLiteral("Please enter an integer between 0 and %1.").arg(kMaxWaitMinutes)
                  : QStringLiteral("Please enter an integer.");
    dialogs_.ShowMessage(this, message, kTitle, Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
    ui_->waitMinutesEdit->setFocus();
    ui_->waitMinutesEdit->selectAll();
    return -1;
}

void COptions::accept() {
    const int minutes = ValidatedMinutes();
    if (minutes < 0) return;
    std::string edited = CompleteOptionString(options_);
    for (const SwitchBox& entry : Switches()) edited[entry.position] = entry.box->isChecked() ? '1' : '0';
    edited.replace(Option::kWaitMinutes, 2, PadLeftZeros(FormatNumber(minutes), 2));
    options_ = std::move(edited);
    QDialog::accept();
}

bool COptions::eventFilter(QObject* watched, QEvent* event) {
    // The two-line caption of the real-time switch is a label; clicking it
    // toggles the box as a check box caption would.
    if (watched == ui_->realTimeSchedulerLabel && event->type() == QEvent::MouseButtonRelease) {
        ui_->realTimeSchedulerCheck->toggle();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void COptions::BrowseDefaultProject() {
    const QStringList chosen = dialogs_.OpenFiles(this, QStringLiteral("tarn Files (*.tarn)"),
                                                  FromBytes(settings_.ProgramFolder()), false);
    if (chosen.isEmpty()) return;
    const std::string path = QFile::encodeName(chosen.first()).toStdString();
    if (path.find_first_of("\r\n") != std::string::npos) {
        dialogs_.ShowMessage(
            this, QString::fromStdString(FormatText(texts_.GetText(TextId::TextNotStorable), path)),
            QString::fromStdString(texts_.GetText(TextId::MessageCaption)));
        return;
    }
    // Takes effect at once, even when the dialog is cancelled afterwards.
    try {
        settings_.SetSetting("Path", path);
    } catch (const FileError& error) {
        ::ReportFileError(this, dialogs_, texts_, error.path());
        return;
    } catch (const std::invalid_argument&) {
        ::ReportFileError(this, dialogs_, texts_, settings_.SettingsFile());
        return;
    }
    ui_->defaultProjectEdit->setText(chosen.first());
}

void COptions::ShowHelp() {
    dialogs_.OpenWithDesktop(FromBytes(settings_.ProgramFolder() + "/help.html"));
}

std::string COptions::LogPath() const {
    return HistoryLogPath(settings_.SettingsFolder(), settings_.ProgramFolder());
}

void COptions::ShowLog() {
    LogTools(this, dialogs_, texts_, LogPath(), clock_).Show();
}

void COptions::EmptyLog() {
    LogTools(this, dialogs_, texts_, LogPath(), clock_).Empty();
}

void COptions::PrintLog() {
    LogTools(this, dialogs_, texts_, LogPath(), clock_).Print();
}
