#include "ScriptedDialogs.h"
#include "entries/CAddFtp.h"
#include "entries/DialogText.h"
#include "sources/KnownServers.h"
#include "storage/PowerClass.h"
#include "support/FtpTestServer.h"
#include "support/SftpTestServer.h"
#include "support/TempHome.h"
#include "util/SafeFormat.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

// The connection test of the FTP server dialog against a real server.

namespace {

class FtpConnectionCheckTest : public ::testing::Test {
protected:
    void SetUp() override { texts.Load(); }

    QString Text(TextId id) const { return QString::fromUtf8(texts.GetText(id)); }

    // Types the fields into the dialog and presses the test button, noting what
    // the buttons and the cursor showed whenever the test let events through.
    void Check(CAddFtp& dialog, const QString& server, const QString& user, const QString& password,
               const QString& folder) {
        dialog.findChild<QLineEdit*>("serverEdit")->setText(server);
        dialog.findChild<QLineEdit*>("userEdit")->setText(user);
        dialog.findChild<QLineEdit*>("passwordEdit")->setText(password);
        dialog.findChild<QLineEdit*>("folderEdit")->setText(folder);
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const bool anyEnabled = dialog.findChild<QPushButton*>("okButton")->isEnabled() ||
                                    dialog.findChild<QPushButton*>("cancelButton")->isEnabled() ||
                                    dialog.findChild<QPushButton*>("checkConnectionButton")->isEnabled();
            const QCursor* cursor = QApplication::overrideCursor();
            const bool busy = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
            duringTest.push_back(!anyEnabled && busy);
        });
        probe.start(0);
        dialog.findChild<QPushButton*>("checkConnectionButton")->click();
        probe.stop();
    }

    TempHome home;
    CTranslation texts{BinFolder()};
    ScriptedDialogs dialogs;
    std::vector<bool> duringTest;  // true: buttons off and busy cursor
};

TEST_F(FtpConnectionCheckTest, SendsTheSettingsTemplateAndFetchesItBackThenAWrongPasswordFails) {
    FtpTestServer server;
    CAddFtp dialog(dialogs);
    dialog.show();
    const QString host = QString::fromStdString("ftp://" + server.HostAndPort());

    Check(dialog, host, QString::fromStdString(server.user()), QString::fromStdString(server.password()),
          QStringLiteral("tests/two levels"));

    EXPECT_EQ(dialogs.MessageTexts(),
              (QStringList{Text(TextId::FtpTestUploadOk), Text(TextId::FtpTestDownloadOk)}));
    EXPECT_EQ(dialogs.messages[0].caption, Text(TextId::MessageCaption));
    EXPECT_EQ(dialogs.messages[0].icon, Dialogs::Icon::None);
    const std::string stored = server.LoginFolder() + "/tests/two levels/config.ini";
    ASSERT_TRUE(std::filesystem::is_regular_file(stored));
    EXPECT_EQ(ReadTestFile(stored), ReadTestFile(BinFolder() + "/config.ini"));
    // Nothing is left in the program folder.
    EXPECT_FALSE(std::filesystem::exists(BinFolder() + "/temp/config.ini"));
    // The dialog stayed responsive and locked while the server worked.
    ASSERT_FALSE(duringTest.empty());
    for (bool locked : duringTest) EXPECT_TRUE(locked);
    EXPECT_TRUE(dialog.findChild<QPushButton*>("okButton")->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    dialogs.messages.clear();
    Check(dialog, host, QString::fromStdString(server.user()), QStringLiteral("wrong"), QString());
    EXPECT_EQ(dialogs.MessageTexts(), QStringList{Text(TextId::FtpTestUploadFailed)});

    // The field keeps its prefix for OK.
    dialog.findChild<QLineEdit*>("passwordEdit")->setText(QString::fromStdString(server.password()));
    dialog.findChild<QPushButton*>("okButton")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.ServerName(), "ftp://" + server.HostAndPort());
}

TEST_F(FtpConnectionCheckTest, TheTestUsesTheDataConnectionModeOfTheCheckBoxWhichStartsOnPassive) {
    FtpTestServer server;
    CAddFtp dialog(dialogs);
    auto* passive = dialog.findChild<QCheckBox*>("passiveCheck");
    ASSERT_NE(passive, nullptr);
    EXPECT_TRUE(passive->isChecked());
    const QString host = QString::fromStdString("ftp://" + server.HostAndPort());
    const QString user = QString::fromStdString(server.user());
    const QString password = QString::fromStdString(server.password());

    Check(dialog, host, user, password, QString());
    EXPECT_TRUE(dialog.Passive());
    const std::vector<std::string> passiveModes = server.DataConnectionModes();
    ASSERT_FALSE(passiveModes.empty());
    for (const std::string& mode : passiveModes) EXPECT_EQ(mode, "passive");

    passive->setChecked(false);
    Check(dialog, host, user, password, QString());
    EXPECT_FALSE(dialog.Passive());
    const std::vector<std::string> modes = server.DataConnectionModes();
    ASSERT_GT(modes.size(), passiveModes.size());
    for (std::size_t i = passiveModes.size(); i < modes.size(); ++i) EXPECT_EQ(modes[i], "active") << i;
    EXPECT_EQ(dialogs.MessageTexts(),
              (QStringList{Text(TextId::FtpTestUploadOk), Text(TextId::FtpTestDownloadOk),
                           Text(TextId::FtpTestUploadOk), Text(TextId::FtpTestDownloadOk)}));
}

TEST_F(FtpConnectionCheckTest, ATlsServersUnverifiableCertificateIsShownAndUsedOnlyOnceTrusted) {
    FtpTestServer server("tester", "tls-pass", FtpTestServer::Security::Tls);
    CAddFtp dialog(dialogs);
    dialog.findChild<QLineEdit*>("serverEdit")
        ->setText(QString::fromStdString("ftp://" + server.HostAndPort()));
    auto* protocol = dialog.findChild<QComboBox*>("protocolCombo");
    ASSERT_NE(protocol, nullptr);
    protocol->setCurrentIndex(1);
    emit protocol->activated(1);
    const QString host = dialog.findChild<QLineEdit*>("serverEdit")->text();
    EXPECT_EQ(host.toStdString(), "ftps://" + server.HostAndPort());
    EXPECT_FALSE(dialog.findChild<QCheckBox*>("passiveCheck")->isEnabled());

    // Declined: nothing is trusted, nothing stored.
    Check(dialog, host, QStringLiteral("tester"), QStringLiteral("tls-pass"), QString());
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].buttons, Dialogs::Buttons::YesNo);
    EXPECT_TRUE(dialogs.messages[0].text.contains(QString::fromStdString(server.CertificateFingerprint())));
    EXPECT_FALSE(dialogs.messages[0].text.contains(QStringLiteral("tls-pass")));
    EXPECT_EQ(dialogs.messages[1].text, Text(TextId::FtpTestUploadFailed));
    EXPECT_EQ(server.LoginCount(), 0);

    // Accepted: stored for this server and the test passes over TLS.
    dialogs.messages.clear();
    dialogs.messageAnswers.push_back(Dialogs::Answer::Yes);
    Check(dialog, host, QStringLiteral("tester"), QStringLiteral("tls-pass"), QString());
    ASSERT_EQ(dialogs.messages.size(), 3u);
    EXPECT_EQ(dialogs.messages[1].text, Text(TextId::FtpTestUploadOk));
    EXPECT_EQ(dialogs.messages[2].text, Text(TextId::FtpTestDownloadOk));
    EXPECT_TRUE(std::filesystem::is_regular_file(server.LoginFolder() + "/config.ini"));
    PowerClass settings(BinFolder());
    settings.ResolveSettingsFile();
    const auto trusted = KnownServers(settings.SettingsFolder()).Find(server.HostAndPort());
    ASSERT_TRUE(trusted.has_value());
    EXPECT_EQ(trusted->fingerprint, server.CertificateFingerprint());

    // Later tests do not ask again.
    dialogs.messages.clear();
    Check(dialog, host, QStringLiteral("tester"), QStringLiteral("tls-pass"), QString());
    EXPECT_EQ(dialogs.MessageTexts(),
              (QStringList{Text(TextId::FtpTestUploadOk), Text(TextId::FtpTestDownloadOk)}));
    dialog.findChild<QPushButton*>("okButton")->click();
    EXPECT_EQ(dialog.ServerName(), "ftps://" + server.HostAndPort());
}

TEST_F(FtpConnectionCheckTest, AnSftpServersUnknownHostKeyIsShownAndAcceptedOnce) {
    SftpTestServer server("tester", "ssh-pass");
    CAddFtp dialog(dialogs);
    dialog.findChild<QLineEdit*>("serverEdit")->setText(QString::fromStdString(server.HostAndPort()));
    auto* protocol = dialog.findChild<QComboBox*>("protocolCombo");
    ASSERT_EQ(protocol->count(), 3);
    protocol->setCurrentIndex(2);
    emit protocol->activated(2);
    const QString host = dialog.findChild<QLineEdit*>("serverEdit")->text();
    EXPECT_EQ(host.toStdString(), "sftp://" + server.HostAndPort());
    EXPECT_FALSE(dialog.findChild<QCheckBox*>("passiveCheck")->isEnabled());
    EXPECT_EQ(dialog.findChild<QLabel*>("sftpHint")->text(), Text(TextId::SftpLoginHint));

    // Declined: nothing accepted, nothing sent.
    Check(dialog, host, QStringLiteral("tester"), QStringLiteral("ssh-pass"), QStringLiteral("up"));
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].buttons, Dialogs::Buttons::YesNo);
    EXPECT_TRUE(dialogs.messages[0].text.contains(QString::fromStdString(server.HostKeyFingerprint())));
    EXPECT_TRUE(dialogs.messages[0].text.contains(Text(TextId::HostKeyTrustQuestion)));
    EXPECT_FALSE(dialogs.messages[0].text.contains(QStringLiteral("ssh-pass")));
    EXPECT_EQ(dialogs.messages[1].text, Text(TextId::FtpTestUploadFailed));
    EXPECT_TRUE(server.Events().empty());

    // Accepted: recorded in the program's known hosts, and the test passes.
    dialogs.messages.clear();
    dialogs.messageAnswers.push_back(Dialogs::Answer::Yes);
    Check(dialog, host, QStringLiteral("tester"), QStringLiteral("ssh-pass"), QStringLiteral("up"));
    ASSERT_EQ(dialogs.messages.size(), 3u);
    EXPECT_EQ(dialogs.messages[1].text, Text(TextId::FtpTestUploadOk));
    EXPECT_EQ(dialogs.messages[2].text, Text(TextId::FtpTestDownloadOk));
    EXPECT_TRUE(std::filesystem::is_regular_file(server.LoginFolder() + "/up/config.ini"));
    PowerClass settings(BinFolder());
    settings.ResolveSettingsFile();
    EXPECT_EQ(ReadTestFile(settings.SettingsFolder() + "/known_hosts"), server.KnownHostsLine() + "\n");

    dialogs.messages.clear();
    Check(dialog, host, QStringLiteral("tester"), QStringLiteral("ssh-pass"), QStringLiteral("up"));
    EXPECT_EQ(dialogs.MessageTexts(),
              (QStringList{Text(TextId::FtpTestUploadOk), Text(TextId::FtpTestDownloadOk)}));
}

TEST_F(FtpConnectionCheckTest, AnEmptyFolderUsesTheLoginDirectory) {
    FtpTestServer server;
    CAddFtp dialog(dialogs);
    Check(dialog, QString::fromStdString("ftp://" + server.HostAndPort()),
          QString::fromStdString(server.user()), QString::fromStdString(server.password()), QString());
    EXPECT_EQ(dialogs.MessageTexts(),
              (QStringList{Text(TextId::FtpTestUploadOk), Text(TextId::FtpTestDownloadOk)}));
    EXPECT_TRUE(std::filesystem::is_regular_file(server.LoginFolder() + "/config.ini"));
}

TEST_F(FtpConnectionCheckTest, PassesOnAnAccountThatMayStoreButNotRenameOrDelete) {
    FtpTestServer server;
    server.RefuseRenameAndDelete();
    CAddFtp dialog(dialogs);
    Check(dialog, QString::fromStdString("ftp://" + server.HostAndPort()),
          QString::fromStdString(server.user()), QString::fromStdString(server.password()),
          QStringLiteral("write-only"));
    EXPECT_EQ(dialogs.MessageTexts(),
              (QStringList{Text(TextId::FtpTestUploadOk), Text(TextId::FtpTestDownloadOk)}));
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/write-only/config.ini"),
              ReadTestFile(BinFolder() + "/config.ini"));
}

TEST_F(FtpConnectionCheckTest, AServerFieldWithAUserNameIsRefusedByName) {
    FtpTestServer server;
    CAddFtp dialog(dialogs);
    Check(dialog, QString::fromStdString("ftp://" + server.user() + "@" + server.HostAndPort()),
          QString::fromStdString(server.user()), QString::fromStdString(server.password()), QString());
    const std::string field = PlainControlText(Text(TextId::FtpServerLabel)).toStdString();
    EXPECT_EQ(dialogs.MessageTexts(),
              QStringList{QString::fromUtf8(FormatText(texts.GetText(TextId::FieldContainsAt), field))});
    EXPECT_EQ(server.LoginCount(), 0);
}

TEST_F(FtpConnectionCheckTest, NoServerOrNoPrefixIsReportedWithoutHanging) {
    CAddFtp dialog(dialogs);
    Check(dialog, QString::fromStdString("ftp://127.0.0.1:" + std::to_string(UnusedLoopbackPort())),
          QStringLiteral("u"), QStringLiteral("p"), QString());
    Check(dialog, QStringLiteral("ftp://"), QStringLiteral("u"), QStringLiteral("p"), QString());
    Check(dialog, QStringLiteral("Ftp://127.0.0.1"), QStringLiteral("u"), QStringLiteral("p"), QString());
    EXPECT_EQ(dialogs.MessageTexts(),
              (QStringList{Text(TextId::FtpTestUploadFailed), Text(TextId::FtpTestUploadFailed),
                           Text(TextId::FtpPrefixMissing)}));
    EXPECT_TRUE(dialog.findChild<QPushButton*>("checkConnectionButton")->isEnabled());
}

}  // namespace
