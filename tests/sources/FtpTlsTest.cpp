#include "sources/FtpTransfer.h"
#include "sources/KnownServers.h"

#include "support/FtpTestServer.h"
#include "support/TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// FTP with explicit TLS against a server with a self-signed certificate.

namespace {

constexpr FtpTimeouts kShortTimeouts{2000ms, 2000ms};

class FtpTlsTest : public ::testing::Test {
protected:
    FtpTlsTest() {
        session.UsePassiveMode(true);
        session.UseProtocol(RemoteProtocol::FtpTls, settings.path());
    }
    bool Upload(FtpSession& through, const std::string& remoteDirectory) {
        return FtpUploadFile(through, file, server.HostAndPort(), server.user(), server.password(),
                             remoteDirectory);
    }
    void TrustTheServer() {
        const auto identity = IdentityOfPem(server.CertificatePem());
        ASSERT_TRUE(identity.has_value());
        KnownServers(settings.path()).Trust(server.HostAndPort(), *identity);
    }

    TempHome home;
    TempFolder local;
    TempFolder settings;
    FtpTestServer server{"tester", "pass-5ecret", FtpTestServer::Security::Tls};
    FtpSession session{nullptr, {}, kShortTimeouts};
    std::string file = [this] {
        const std::string path = local.path() + "/data.bin";
        WriteTestFile(path, std::string("over\0tls", 8));
        return path;
    }();
};

TEST_F(FtpTlsTest, AnUnverifiableCertificateIsRefusedWithItsFingerprintUntilTrusted) {
    EXPECT_FALSE(Upload(session, "up"));
    EXPECT_THAT(session.LastError(),
                AllOf(HasSubstr("cannot be verified"), HasSubstr(server.CertificateFingerprint()),
                      Not(HasSubstr(server.password()))));
    ASSERT_TRUE(session.UnverifiedCertificate().has_value());
    EXPECT_EQ(session.UnverifiedCertificate()->fingerprint, server.CertificateFingerprint());
    // The login never reached the server.
    EXPECT_EQ(server.LoginCount(), 0);
    EXPECT_TRUE(server.StoredPaths().empty());

    TrustTheServer();
    struct stat status {};
    ASSERT_EQ(stat(KnownServers(settings.path()).FilePath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    ASSERT_TRUE(Upload(session, "up")) << session.LastError();
    EXPECT_FALSE(session.UnverifiedCertificate().has_value());
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/up/data.bin"), ReadTestFile(file));
    std::vector<FtpRemoteFile> files;
    EXPECT_EQ(
        FtpListFiles(session, server.HostAndPort(), server.user(), server.password(), "up", false, files),
        FtpListOutcome::Listed);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].relativePath, "/data.bin");
    fs::create_directories(local.path() + "/back");
    ASSERT_TRUE(FtpDownloadFile(session, local.path() + "/back", server.HostAndPort(), server.user(),
                                server.password(), "up", "data.bin"))
        << session.LastError();
    EXPECT_EQ(ReadTestFile(local.path() + "/back/data.bin"), ReadTestFile(file));
    EXPECT_EQ(server.LoginCount(), 1);
}

TEST_F(FtpTlsTest, DataConnectionsArePassiveEvenWhereActiveWasAskedFor) {
    TrustTheServer();
    FtpSession active(nullptr, {}, kShortTimeouts);
    active.UsePassiveMode(false);
    active.UseProtocol(RemoteProtocol::FtpTls, settings.path());
    ASSERT_TRUE(Upload(active, "active")) << active.LastError();
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/active/data.bin"), ReadTestFile(file));
    ASSERT_FALSE(server.DataConnectionModes().empty());
    for (const std::string& mode : server.DataConnectionModes()) EXPECT_EQ(mode, "passive");
}

TEST_F(FtpTlsTest, AChangedCertificateIsRefusedNamingBothFingerprints) {
    TrustTheServer();
    const std::string trusted = server.CertificateFingerprint();
    ASSERT_TRUE(Upload(session, "up")) << session.LastError();
    server.RenewCertificate();
    const std::string shown = server.CertificateFingerprint();
    ASSERT_NE(shown, trusted);

    FtpSession later(nullptr, {}, kShortTimeouts);
    later.UseProtocol(RemoteProtocol::FtpTls, settings.path());
    EXPECT_FALSE(Upload(later, "up"));
    EXPECT_THAT(later.LastError(), AllOf(HasSubstr("has changed"), HasSubstr(trusted), HasSubstr(shown),
                                         Not(HasSubstr(server.password()))));
    // Not offered for trust: a changed key is refused.
    EXPECT_FALSE(later.UnverifiedCertificate().has_value());
    EXPECT_EQ(server.LoginCount(), 1);
}

TEST_F(FtpTlsTest, PlainFtpToATlsOnlyServerFailsWithoutFallingBack) {
    FtpSession plain(nullptr, {}, kShortTimeouts);
    EXPECT_FALSE(Upload(plain, "up"));
    EXPECT_EQ(server.LoginCount(), 0);
}

TEST_F(FtpTlsTest, AWrongPasswordFailsWithoutShowingEitherPassword) {
    TrustTheServer();
    EXPECT_FALSE(FtpUploadFile(session, file, server.HostAndPort(), server.user(), "wrong-Pa55", "up"));
    EXPECT_THAT(session.LastError(),
                AllOf(HasSubstr("530"), Not(HasSubstr("wrong-Pa55")), Not(HasSubstr(server.password()))));
    EXPECT_EQ(server.LoginCount(), 0);
}

TEST_F(FtpTlsTest, AServerKilledDuringAnUploadFailsItAndLeavesNoFileUnderItsName) {
    TrustTheServer();
    WriteTestFile(file, std::string(4u << 20, 'x'));
    server.DieDuringUploadOf("data.bin");
    EXPECT_FALSE(Upload(session, "up"));
    EXPECT_FALSE(session.LastError().empty());
    EXPECT_THAT(session.LastError(), Not(HasSubstr(server.password())));
    EXPECT_FALSE(fs::exists(server.LoginFolder() + "/up/data.bin"));
}

TEST(FtpTlsSilentServer, AServerThatNeverGreetsTimesOut) {
    TempFolder settings;
    SilentServer silent;
    FtpSession session(nullptr, {}, kShortTimeouts);
    session.UseProtocol(RemoteProtocol::FtpTls, settings.path());
    FtpEnsureDirectoryPath(session, "127.0.0.1:" + std::to_string(silent.port()), "u", "p", "up");
    EXPECT_FALSE(session.LastError().empty());
    EXPECT_TRUE(session.LastFailureTimedOut()) << session.LastError();
    EXPECT_FALSE(session.UnverifiedCertificate().has_value());
}

TEST(KnownServers, TrustingReplacesTheServersEntryAndKeepsTheOthers) {
    TempFolder settings;
    const KnownServers known(settings.path());
    EXPECT_FALSE(known.Find("h:21").has_value());
    known.Trust("h:21", {"AA:BB", "sha256//one="});
    known.Trust("g:990", {"CC:DD", "sha256//two="});
    known.Trust("h:21", {"EE:FF", "sha256//three="});
    EXPECT_EQ(known.Find("h:21"), (CertificateIdentity{"EE:FF", "sha256//three="}));
    EXPECT_EQ(known.Find("g:990"), (CertificateIdentity{"CC:DD", "sha256//two="}));
    EXPECT_FALSE(known.Find("h:2121").has_value());
}

}  // namespace
