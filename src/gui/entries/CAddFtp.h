#pragma once

#include "i18n/CTranslation.h"
#include "platform/ProcessInfo.h"
#include "sources/RemoteProtocol.h"
#include "sources/ServerCertificate.h"
#include "storage/PowerClass.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class Dialogs;
class FtpSession;
class QLabel;
class QLineEdit;
namespace Ui {
class CAddFtp;
}

// Server name, user name, password, folder, protocol (FTP or FTP with TLS) and
// data connection mode of a remote destination, with a test that sends the
// settings template to the server and fetches it back. The scheme the server
// name starts with is the protocol; the protocol list rewrites it.
class CAddFtp : public QDialog {
    Q_OBJECT
public:
    explicit CAddFtp(Dialogs& dialogs, QWidget* parent = nullptr,
                     std::string programFolder = ::ProgramFolder());
    ~CAddFtp() override;

    // The fields as the user typed them, read when OK or the test was pressed.
    const std::string& ServerName() const { return server_; }
    const std::string& UserName() const { return user_; }
    const std::string& Password() const { return password_; }
    const std::string& Folder() const { return folder_; }
    // Data connections opened by this side; on for a new destination.
    bool Passive() const { return passive_; }

    void accept() override;
    void reject() override;

    // The connection test behind the "Check ftp connection" button.
    void CheckConnection();

private:
    void ReadFields();
    bool HasFtpPrefix() const;
    RemoteProtocol Protocol() const;
    // The protocol list and the scheme of the server name follow each other.
    void OnProtocolChosen(int index);
    void OnServerEdited(const QString& text);
    void ShowModeChoice();
    // Asks whether to trust the certificate of the server; true when the user
    // did and it was stored.
    bool OfferTrust(const std::string& host, const CertificateIdentity& certificate);
    // Why the fields cannot form a destination that decodes back, as a message.
    std::optional<QString> WhyFieldsNotUsable() const;
    // Why the server field names no host a connection could be made to.
    std::optional<QString> WhyServerNotUsable() const;
    QString FieldName(const QLabel& label) const;
    // The message text with the field's label in it.
    QString FieldMessage(TextId text, const QLabel& label) const;
    void Tell(TextId text);
    void Tell(const QString& text);
    void SetTesting(bool testing);
    // Runs one step of the connection test with the buttons off and a busy cursor.
    bool WhileTesting(const std::function<bool(FtpSession&)>& step);

    std::unique_ptr<Ui::CAddFtp> ui_;
    Dialogs& dialogs_;
    PowerClass settings_;
    CTranslation texts_;
    std::string server_;
    std::string user_;
    std::string password_;
    std::string folder_;
    bool passive_ = true;
    bool testing_ = false;
};
