#include "CliProcess.h"
#include "CliTestHome.h"
#include "sources/Entries.h"
#include "sources/KnownServers.h"
#include "storage/HistoryLog.h"
#include "storage/ProjectFile.h"
#include "support/FtpTestServer.h"
#include "support/SftpTestServer.h"
#include "support/TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::SizeIs;

// The runner as a process against a real SFTP server: setting the
// destination, accepting the host key, runs and a restore.

namespace {

class SftpCliTest : public ::testing::Test, public CliTestHome {
protected:
    SftpCliTest() {
        WriteTestFile(source.path() + "/Data/a.txt", "alpha");
        WriteTestFile(source.path() + "/Data/sub/b.txt", "bee");
        settings.SetSetting("Options", "000010000000000");  // full, history log on
        home.SetEnv("TARNWICK_FTP_TIMEOUT_SECONDS", "3");
    }
    CliResult Cli(std::vector<std::string> arguments, const std::string& input = {}) {
        arguments.insert(arguments.begin() + 1, {"--project", projectPath});
        CliResult result = RunCli(arguments, input);
        outputs += result.out + result.err;
        return result;
    }
    std::string RemoteBase() const { return server.LoginFolder() + "/up/tarnwick_backup_folder"; }

    SftpTestServer server{"tester", "pass-5ecret"};
    std::string url = "sftp://" + server.user() + "@" + server.HostAndPort() + "/up";
    std::string outputs;
};

TEST_F(SftpCliTest, DestinationTrustHostRunsAndRestoreNeverShowThePassword) {
    ASSERT_EQ(RunCli({"new", projectPath}).exitCode, 0);
    ASSERT_EQ(Cli({"add", source.path() + "/Data"}).exitCode, 0);
    const CliResult set = Cli({"destination", url}, server.password() + "\n");
    ASSERT_EQ(set.exitCode, 0) << set.err;
    BackupSetup saved;
    ASSERT_EQ(ReadProject(projectPath, saved), ProjectLoad::Loaded);
    EXPECT_TRUE(saved.destination.starts_with("sftp://" + server.HostAndPort() + "/...@!@tester@!@"));
    EXPECT_EQ(DecodeFtpDestination(saved.destination).protocol, RemoteProtocol::Sftp);

    // An unknown host key: the run sends nothing and says how to accept it.
    const CliResult refused = Cli({"run"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_THAT(refused.err, AllOf(HasSubstr(server.HostKeyFingerprint()), HasSubstr("trust-host"),
                                   HasSubstr("127.0.0.1:" + std::to_string(server.port()))));
    EXPECT_TRUE(server.Events().empty());

    EXPECT_THAT(Cli({"status"}).out, AllOf(HasSubstr("not reachable"), HasSubstr("is not known")));
    const CliResult noTerminal = Cli({"trust-host"});
    EXPECT_EQ(noTerminal.exitCode, 2);
    EXPECT_THAT(noTerminal.out, HasSubstr(server.HostKeyFingerprint()));
    EXPECT_THAT(noTerminal.err, HasSubstr("--yes"));
    EXPECT_FALSE(fs::exists(settings.SettingsFolder() + "/known_hosts"));
    const CliResult trusted = Cli({"trust-host", "--yes"});
    EXPECT_EQ(trusted.exitCode, 0) << trusted.err;
    EXPECT_EQ(ReadTestFile(settings.SettingsFolder() + "/known_hosts"), server.KnownHostsLine() + "\n");
    EXPECT_THAT(Cli({"trust-host"}).out, HasSubstr("trusted already"));
    EXPECT_THAT(Cli({"status", "--json"}).out, HasSubstr("\"reachable\": true"));

    const CliResult full = Cli({"run"});
    EXPECT_EQ(full.exitCode, 0) << full.err;
    std::string entryFolder = source.path() + "/Data";
    for (char& c : entryFolder) c = c == '/' ? '_' : c;
    EXPECT_EQ(ReadTestFile(RemoteBase() + "/" + entryFolder + "/a.txt"), "alpha");
    EXPECT_EQ(ReadTestFile(RemoteBase() + "/" + entryFolder + "/sub/b.txt"), "bee");
    EXPECT_THAT(server.StoredPaths(), SizeIs(2));

    // Nothing changed since an earlier day: an incremental run stores nothing.
    for (const char* name : {"/Data/a.txt", "/Data/sub/b.txt"})
        fs::last_write_time(source.path() + name,
                            fs::last_write_time(source.path() + name) - std::chrono::hours(72));
    settings.SetSetting("Options", "100010000000000");
    const CliResult incremental = Cli({"run"});
    EXPECT_EQ(incremental.exitCode, 0) << incremental.err;
    EXPECT_THAT(server.StoredPaths(), SizeIs(2));

    fs::remove_all(source.path() + "/Data");
    const CliResult restored = Cli({"restore"});
    EXPECT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_EQ(ReadTestFile(source.path() + "/Data/sub/b.txt"), "bee");

    const std::string log = ReadTestFile(HistoryLogPath(settings.SettingsFolder(), BinFolder()));
    EXPECT_THAT(log, HasSubstr("sftp://"));
    EXPECT_THAT(outputs + log, Not(HasSubstr(server.password())));
}

TEST_F(SftpCliTest, AChangedHostKeyFailsTheRunAndTrustHostRefusesIt) {
    ASSERT_EQ(RunCli({"new", projectPath}).exitCode, 0);
    ASSERT_EQ(Cli({"add", source.path() + "/Data"}).exitCode, 0);
    ASSERT_EQ(Cli({"destination", url}, server.password() + "\n").exitCode, 0);
    ASSERT_EQ(Cli({"trust-host", "--yes"}).exitCode, 0);
    server.RenewHostKey();
    const CliResult run = Cli({"run"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("has changed"));
    EXPECT_EQ(Cli({"trust-host", "--yes"}).exitCode, 1);
    EXPECT_TRUE(server.StoredPaths().empty());
    EXPECT_THAT(outputs, Not(HasSubstr(server.password())));
}

TEST_F(SftpCliTest, TrustHostAcceptsAnFtpsCertificateToo) {
    FtpTestServer tls("tester", "tls-pass-word", FtpTestServer::Security::Tls);
    ASSERT_EQ(RunCli({"new", projectPath}).exitCode, 0);
    ASSERT_EQ(Cli({"add", source.path() + "/Data"}).exitCode, 0);
    ASSERT_EQ(Cli({"destination", "ftps://tester@" + tls.HostAndPort() + "/up"}, "tls-pass-word\n").exitCode,
              0);
    EXPECT_EQ(Cli({"run"}).exitCode, 1);
    const CliResult trusted = Cli({"trust-host", "--yes"});
    EXPECT_EQ(trusted.exitCode, 0) << trusted.err;
    EXPECT_THAT(trusted.out, HasSubstr(tls.CertificateFingerprint()));
    const auto known = KnownServers(settings.SettingsFolder()).Find(tls.HostAndPort());
    ASSERT_TRUE(known.has_value());
    EXPECT_EQ(known->fingerprint, tls.CertificateFingerprint());
    const CliResult run = Cli({"run"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(tls.StoredPaths(), SizeIs(2));
    EXPECT_THAT(outputs, Not(HasSubstr("tls-pass-word")));
}

TEST_F(SftpCliTest, DestinationUrlsOfEveryKindAndRefusals) {
    ASSERT_EQ(RunCli({"new", projectPath}).exitCode, 0);
    ASSERT_EQ(Cli({"destination", "ftps://ann@example.org:990/f"}, "pw1234\n").exitCode, 0);
    BackupSetup saved;
    ASSERT_EQ(ReadProject(projectPath, saved), ProjectLoad::Loaded);
    const FtpParameters tls = DecodeFtpDestination(saved.destination);
    EXPECT_EQ(tls.protocol, RemoteProtocol::FtpTls);
    EXPECT_TRUE(tls.passive);
    EXPECT_EQ(tls.server, "example.org:990");
    // SFTP with an empty password (agent or key).
    ASSERT_EQ(Cli({"destination", "sftp://ann@example.org/f"}, "\n").exitCode, 0);
    ASSERT_EQ(ReadProject(projectPath, saved), ProjectLoad::Loaded);
    EXPECT_EQ(saved.destination, "sftp://example.org/...@!@ann@!@@!@f");
    const std::string before = ReadTestFile(projectPath);
    EXPECT_EQ(Cli({"destination", "sftp://example.org/f"}, "x\n").exitCode, 2);
    EXPECT_EQ(Cli({"destination", "sftp://ann@bad host/f"}, "x\n").exitCode, 2);
    EXPECT_EQ(ReadTestFile(projectPath), before);
    // Plain FTP has no identity to trust.
    ASSERT_EQ(Cli({"destination", "ftp://ann@example.org/f"}, "x\n").exitCode, 0);
    EXPECT_EQ(Cli({"trust-host", "--yes"}).exitCode, 2);
}

}  // namespace
