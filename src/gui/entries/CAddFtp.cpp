#include "entries/CAddFtp.h"

#include "dialogs/Dialogs.h"
#include "entries/DialogText.h"
#include "sources/FtpServerAddress.h"
#include "sources/FtpTransfer.h"
#include "sources/ServerTrust.h"
#include "storage/ProjectFile.h"
#include "ui_CAddFtp.h"
#include "util/FileError.h"
#include "util/SafeFormat.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <iterator>
#include <string_view>

namespace {

constexpr RemoteProtocol kListedProtocols[] = {RemoteProtocol::Ftp, RemoteProtocol::FtpTls,
                                               RemoteProtocol::Sftp};
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

    ui_->protocolLabel->setText(DialogText(texts_, TextId::FtpProtocolLabel));
    ui_->passiveCheck->setText(DialogText(texts_, TextId::FtpPassiveMode));
    ui_->protocolCombo->addItem(QStringLiteral("FTP"));
    ui_->protocolCombo->addItem(PlainControlText(DialogText(texts_, TextId::FtpWithTls)));
    ui_->protocolCombo->addItem(PlainControlText(DialogText(texts_, TextId::SftpProtocol)));
    ui_->sftpHint->setText(DialogText(texts_, TextId::SftpLoginHint));
    ShowModeChoice();
    connect(ui_->protocolCombo, &QComboBox::activated, this, &CAddFtp::OnProtocolChosen);
    connect(ui_->serverEdit, &QLineEdit::textEdited, this, &CAddFtp::OnServerEdited);
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
    return StartsWithRemoteScheme(server_);
}

RemoteProtocol CAddFtp::Protocol() const {
    return ProtocolOfText(server_);
}

void CAddFtp::OnProtocolChosen(int index) {
    const RemoteProtocol chosen = kListedProtocols[index];
    const std::string server = ui_->serverEdit->text().toStdString();
    // A name without a scheme yet gets the chosen one; a typed one is replaced.
    std::string host = server;
    if (StartsWithRemoteScheme(server)) host = server.substr(SchemeOf(ProtocolOfText(server)).size());
    ui_->serverEdit->setText(QString::fromStdString(std::string(SchemeOf(chosen)) + host));
    ShowModeChoice();
}

void CAddFtp::OnServerEdited(const QString& text) {
    const std::string server = text.toStdString();
    if (!StartsWithRemoteScheme(server)) return;
    const RemoteProtocol typed = ProtocolOfText(server);
    for (int index = 0; index < static_cast<int>(std::size(kListedProtocols)); ++index)
        if (kListedProtocols[index] == typed) ui_->protocolCombo->setCurrentIndex(index);
    ShowModeChoice();
}

void CAddFtp::ShowModeChoice() {
    // FTP with TLS always opens its data connections itself; SFTP has none.
    const RemoteProtocol chosen = kListedProtocols[ui_->protocolCombo->currentIndex()];
    if (chosen == RemoteProtocol::FtpTls) ui_->passiveCheck->setChecked(true);
    ui_->passiveCheck->setEnabled(chosen == RemoteProtocol::Ftp);
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
    const std::string host = server_.substr(std::min(server_.size(), SchemeOf(Protocol()).size()));
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
    session.UseProtocol(Protocol(), settings_.SettingsFolder());
    return step(session);
}

bool CAddFtp::OfferTrust(const std::string& host, const CertificateIdentity& certificate) {
    std::string why;
    const RemoteProtocol protocol = Protocol();
    const auto address = ParseFtpServer(host, why, DefaultPort(protocol));
    if (!address) return false;
    const bool hostKey = protocol == RemoteProtocol::Sftp;
    const std::string question =
        FormatText(texts_.GetText(hostKey ? TextId::HostKeyUnknown : TextId::CertificateUnverified),
                   address->HostAndPort()) +
        "\n\n" + texts_.GetText(TextId::CertificateFingerprint) + "\n" + certificate.fingerprint + "\n\n" +
        texts_.GetText(hostKey ? TextId::HostKeyTrustQuestion : TextId::CertificateTrustQuestion);
    if (dialogs_.ShowMessage(this, QString::fromUtf8(question), DialogText(texts_, TextId::MessageCaption),
                             Dialogs::Buttons::YesNo, Dialogs::Icon::Question) != Dialogs::Answer::Yes)
        return false;
    try {
        TrustServerIdentity(settings_.SettingsFolder(), protocol, *address, certificate);
    } catch (const FileError& error) {
        Tell(QString::fromStdString(error.what()));
        return false;
    }
    return true;
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
    const std::string host = server_.substr(SchemeOf(Protocol()).size());
    const std::string testFile = settings_.ProgramFolder() + "/" + std::string(kTestFileName);

    std::optional<CertificateIdentity> unverified;
    const auto upload = [&](FtpSession& session) {
        const bool stored = FtpUploadFile(session, testFile, host, user_, password_, folder_);
        unverified = session.UnverifiedCertificate();
        return stored;
    };
    bool uploaded = WhileTesting(upload);
    if (!uploaded && unverified && OfferTrust(host, *unverified)) uploaded = WhileTesting(upload);
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
