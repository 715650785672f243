#include "sources/CAddFtp.h"

#include "platform/Dialogs.h"
#include "sources/DialogText.h"
#include "sources/FtpServerAddress.h"
#include "sources/FtpTransfer.h"
#include "storage/ProjectFile.h"
#include "ui_CAddFtp.h"
#include "util/SafeFormat.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <string_view>

namespace {

constexpr std::string_view kFtpPrefix = "ftp://";
// The destination text separates its fields with "@!@", so an "@" at the edge
// of a field would cut it in the wrong place; no host name has one either
// ("ftp://user@host" can never connect: the user goes in a field of its own).
constexpr std::string_view kAt = "@";
constexpr std::string_view kTestFileName = "config.ini";

void PumpMessages() {
    QCoreApplication::processEvents();
}

}  // namespace

CAddFtp::CAddFtp(Dialogs& dialogs, QWidget* parent, std::string programFolder)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CAddFtp>()),
      dialogs_(dialogs),
      settings_(programFolder),
      texts_(programFolder) {
    ui_->setupUi(this);
    settings_.ResolveSettingsFile();
    LoadDialogTexts(texts_);

    setWindowTitle(PlainControlText(DialogText(texts_, TextId::FtpGroup)));
    ui_->ftpGroup->setTitle(DialogText(texts_, TextId::FtpGroup));
    ui_->serverLabel->setText(DialogText(texts_, TextId::FtpServerLabel));
    ui_->serverExample->setText(DialogText(texts_, TextId::FtpServerExample));
    ui_->userLabel->setText(DialogText(texts_, TextId::FtpUserLabel));
    ui_->passwordLabel->setText(DialogText(texts_, TextId::FtpPasswordLabel));
    ui_->folderLabel->setText(DialogText(texts_, TextId::FtpFolderLabel));
    ui_->folderExample->setText(DialogText(texts_, TextId::FtpFolderExample));
    ui_->checkConnectionButton->setText(DialogText(texts_, TextId::FtpCheckConnection));
    ui_->cancelButton->setText(DialogText(texts_, TextId::Cancel));

    connect(ui_->okButton, &QPushButton::clicked, this, &CAddFtp::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &CAddFtp::reject);
    connect(ui_->checkConnectionButton, &QPushButton::clicked, this, &CAddFtp::CheckConnection);
}

CAddFtp::~CAddFtp() = default;

void CAddFtp::ReadFields() {
    server_ = ui_->serverEdit->text().toStdString();
    user_ = ui_->userEdit->text().toStdString();
    password_ = ui_->passwordEdit->text().toStdString();
    folder_ = ui_->folderEdit->text().toStdString();
    passive_ = ui_->passiveCheck->isChecked();
}

bool CAddFtp::HasFtpPrefix() const {
    return std::string_view(server_).starts_with(kFtpPrefix);
}

QString CAddFtp::FieldName(const QLabel& label) const {
    return PlainControlText(label.text());
}

std::optional<QString> CAddFtp::WhyFieldsNotUsable() const {
    struct Field {
        const std::string& text;
        const QLabel& label;
    };
    const Field fields[] = {
        {server_, *ui_->serverLabel},
        {user_, *ui_->userLabel},
        {password_, *ui_->passwordLabel},
        {folder_, *ui_->folderLabel},
    };
    for (const Field& field : fields) {
        if (field.text.find(kAt) != std::string::npos)
            return FieldMessage(TextId::FieldContainsAt, field.label);
        if (WhyDestinationNotStorable(field.text)) return FieldMessage(TextId::TextNotStorable, field.label);
    }
    return WhyServerNotUsable();
}

std::optional<QString> CAddFtp::WhyServerNotUsable() const {
    if (server_.find(kAt) != std::string::npos)
        return FieldMessage(TextId::FieldContainsAt, *ui_->serverLabel);
    // A bare prefix is left for the run to report; any other text must name a
    // host (and port) a connection can be made to.
    const std::string host = server_.substr(std::min(server_.size(), kFtpPrefix.size()));
    std::string why;
    if (!host.empty() && !ParseFtpServer(host, why))
        return FieldMessage(TextId::TextNotStorable, *ui_->serverLabel);
    return std::nullopt;
}

QString CAddFtp::FieldMessage(TextId text, const QLabel& label) const {
    // The field's label names it: the text itself may be a password.
    return QString::fromUtf8(FormatText(texts_.GetText(text), FieldName(label).toStdString()));
}

void CAddFtp::Tell(TextId text) {
    Tell(DialogText(texts_, text));
}

void CAddFtp::Tell(const QString& text) {
    dialogs_.ShowMessage(this, text, DialogText(texts_, TextId::MessageCaption), Dialogs::Buttons::Ok,
                         Dialogs::Icon::None);
}

void CAddFtp::accept() {
    if (testing_) return;
    ReadFields();
    if (!HasFtpPrefix()) {
        Tell(TextId::FtpPrefixMissing);
        return;
    }
    if (const std::optional<QString> why = WhyFieldsNotUsable()) {
        Tell(*why);
        return;
    }
    QDialog::accept();
}

// Closing the dialog in the middle of a test would leave the test talking to a
// window that is gone.
void CAddFtp::reject() {
    if (testing_) return;
    QDialog::reject();
}

void CAddFtp::SetTesting(bool testing) {
    if (testing == testing_) return;
    testing_ = testing;
    ui_->okButton->setEnabled(!testing);
    ui_->cancelButton->setEnabled(!testing);
    ui_->checkConnectionButton->setEnabled(!testing);
    if (testing) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

bool CAddFtp::WhileTesting(const std::function<bool(FtpSession&)>& step) {
    SetTesting(true);
    struct Finish {
        CAddFtp& dialog;
        ~Finish() { dialog.SetTesting(false); }
    } finish{*this};
    // Each step talks to the server on a connection of its own; the pump keeps
    // the window painting while the server answers.
    FtpSession session(nullptr, PumpMessages);
    session.UsePassiveMode(passive_);
    return step(session);
}

void CAddFtp::CheckConnection() {
    if (testing_) return;
    ReadFields();
    if (!HasFtpPrefix()) {
        Tell(TextId::FtpPrefixMissing);
        return;
    }
    if (const std::optional<QString> why = WhyServerNotUsable()) {
        Tell(*why);
        return;
    }
    // The edit box keeps the prefix; only the test goes without it.
    const std::string host = server_.substr(kFtpPrefix.size());
    const std::string testFile = settings_.ProgramFolder() + "/" + std::string(kTestFileName);

    const bool uploaded = WhileTesting([&](FtpSession& session) {
        return FtpUploadFile(session, testFile, host, user_, password_, folder_);
    });
    if (!uploaded) {
        Tell(TextId::FtpTestUploadFailed);
        return;
    }
    Tell(TextId::FtpTestUploadOk);

    // A folder of its own: the program folder of an installed program is not
    // writable, and nothing of the test is left behind.
    QTemporaryDir downloadFolder;
    const bool downloaded =
        downloadFolder.isValid() && WhileTesting([&](FtpSession& session) {
            return FtpDownloadFile(session, QFile::encodeName(downloadFolder.path()).toStdString(), host,
                                   user_, password_, folder_, std::string(kTestFileName));
        });
    Tell(downloaded ? TextId::FtpTestDownloadOk : TextId::FtpTestDownloadFailed);
}
