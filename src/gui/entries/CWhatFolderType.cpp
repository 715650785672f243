#include "entries/CWhatFolderType.h"

#include "dialogs/Dialogs.h"
#include "entries/DialogText.h"
#include "ui_CWhatFolderType.h"
#include "util/FileError.h"
#include "util/SafeFormat.h"

#include <QUrl>

namespace {

// The "FTPInfo" setting names a web address, or a local page with an optional
// "#fragment"; a relative page lies in the program folder.
QString FtpInformationAddress(const std::string& setting, const std::string& programFolder) {
    const QString value = QString::fromUtf8(setting);
    if (!value.startsWith(QLatin1Char('/')) && !QUrl(value).scheme().isEmpty()) return value;

    const qsizetype hash = value.indexOf(QLatin1Char('#'));
    QString page = hash < 0 ? value : value.left(hash);
    if (!page.startsWith(QLatin1Char('/'))) page = QString::fromUtf8(programFolder) + QLatin1Char('/') + page;
    QUrl url = QUrl::fromLocalFile(page);
    if (hash >= 0) url.setFragment(value.mid(hash + 1));
    return url.toString(QUrl::FullyEncoded);
}

}  // namespace

CWhatFolderType::CWhatFolderType(Dialogs& dialogs, QWidget* parent, std::string programFolder)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CWhatFolderType>()),
      dialogs_(dialogs),
      settings_(programFolder),
      texts_(programFolder) {
    ui_->setupUi(this);
    settings_.ResolveSettingsFile();
    LoadDialogTexts(texts_);

    setWindowTitle(PlainControlText(DialogText(texts_, TextId::BackupFolderGroup)));
    ui_->folderTypeGroup->setTitle(DialogText(texts_, TextId::FolderTypeGroup));
    ui_->localFolderRadio->setText(DialogText(texts_, TextId::FolderTypeLocal));
    ui_->ftpFolderRadio->setText(DialogText(texts_, TextId::FolderTypeFtp));
    ui_->learnMoreFtpButton->setText(DialogText(texts_, TextId::LearnMoreFtp));
    ui_->cancelButton->setText(DialogText(texts_, TextId::Cancel));
    SetChoice(LocalFolder);

    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->learnMoreFtpButton, &QPushButton::clicked, this, &CWhatFolderType::OpenFtpInformation);
}

CWhatFolderType::~CWhatFolderType() = default;

void CWhatFolderType::SetInfoLines(const QString& first, const QString& second) {
    ui_->infoLine1->setText(first);
    ui_->infoLine2->setText(second);
}

void CWhatFolderType::SetChoice(Choice choice) {
    ui_->localFolderRadio->setChecked(choice == LocalFolder);
    ui_->ftpFolderRadio->setChecked(choice == FtpFolder);
}

CWhatFolderType::Choice CWhatFolderType::GetChoice() const {
    return ui_->ftpFolderRadio->isChecked() ? FtpFolder : LocalFolder;
}

void CWhatFolderType::OpenFtpInformation() {
    std::string setting;
    try {
        setting = settings_.GetSetting("FTPInfo");
    } catch (const FileError& error) {
        dialogs_.ShowMessage(
            this, QString::fromUtf8(FormatText(texts_.GetText(TextId::FileErrorMessage), error.path())),
            DialogText(texts_, TextId::MessageCaption));
        return;
    }
    if (setting.empty()) return;
    dialogs_.OpenWithDesktop(FtpInformationAddress(setting, settings_.ProgramFolder()));
}
