#include "EngineFixture.h"
#include "engine/BackupLayout.h"
#include "sources/Entries.h"
#include "support/SftpTestServer.h"
#include "util/TimeText.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// Backup runs to a real SFTP server on loopback.

namespace {

class BackupRunSftpTest : public EngineFixture {
protected:
    BackupRunSftpTest() {
        MakeSourceTree();
        setup.entries = {dataEntry, notesFile};
        setup.destination =
            FtpDestination("sftp://" + server.HostAndPort(), server.user(), server.password(), "upload");
        base = server.LoginFolder() + "/upload/tarnwick_backup_folder";
        setenv("TARNWICK_FTP_TIMEOUT_SECONDS", "2", 1);
    }
    ~BackupRunSftpTest() override { unsetenv("TARNWICK_FTP_TIMEOUT_SECONDS"); }
    void TrustTheServer(const SftpTestServer& which) {
        WriteTestFile(settingsFolder + "/known_hosts", which.KnownHostsLine() + "\n");
    }
    std::string CountLines(int scanned, int copied, const std::string& size) const {
        return Text(TextId::ScannedPrefix) + std::to_string(scanned) + "\r\n" + Text(TextId::CopiedPrefix) +
               std::to_string(copied) + "\r\n" + Text(TextId::SizePrefix) + " " + size + "\r\n";
    }

    SftpTestServer server{"tester", "sftp-pass-word"};
    std::string base;
};

TEST_F(BackupRunSftpTest, AnUnknownKeyGetsNothingAnAcceptedOneFullAndIncrementalRuns) {
    StartLog();
    Run();
    EXPECT_EQ(run.copiedCount, 0);
    ASSERT_FALSE(run.failures.empty());
    EXPECT_THAT(run.failures[0], AllOf(HasSubstr(server.HostKeyFingerprint()), HasSubstr("trust-host")));
    EXPECT_TRUE(server.Events().empty());
    for (const std::string& failure : run.failures) EXPECT_THAT(failure, Not(HasSubstr(server.password())));

    TrustTheServer(server);
    setup.backupMode = 0;
    StartLog();
    ASSERT_EQ(Run(), RunOutcome::Finished);
    EXPECT_TRUE(run.failures.empty());
    EXPECT_EQ(ReadTestFile(base + "/" + EntryFolderName(dataEntry, 0, false) + "/a/b.txt"), "bee");
    EXPECT_EQ(ReadTestFile(base + "/" + EntryFolderName(dataEntry, 0, false) + "/c.txt"), "sea!");
    EXPECT_EQ(ReadTestFile(base + "/notes.txt"), "notes");
    EXPECT_EQ(run.copiedCount, 3);
    EXPECT_EQ(run.byteTotal, 12u);
    // One login per connection for the whole run (four connections at most).
    const std::vector<std::string> events = server.Events();
    const auto logins = std::count(events.begin(), events.end(), "LOGIN password");
    EXPECT_GE(logins, 1);
    EXPECT_LE(logins, 4);
    EXPECT_EQ(ReadTestFile(LogPath()), kLogHeader + kRunSeparator + TimeText() + Text(TextId::RunStarted) +
                                           "\r\n" + Text(TextId::LogCopiedFolder) + " " + dataEntry + "\r\n" +
                                           CountLines(3, 3, "12 Bytes") + TimeText() +
                                           Text(TextId::RunEnded) + "\r\n");

    // Incremental: a file from an earlier day than its copy is not sent again.
    SetModificationTime(source.path() + "/Data/c.txt", 2020, 1, 1, 12, 0, 0);
    setup.backupMode = 1;
    Run();
    EXPECT_TRUE(run.failures.empty());
    EXPECT_EQ(run.copiedCount, 2);
    EXPECT_EQ(server.StoredPaths().size(), 5u);
    EXPECT_THAT(ReadTestFile(LogPath()), Not(HasSubstr(server.password())));
}

TEST_F(BackupRunSftpTest, AServerKilledMidRunOrSilentEndsTheRunWithFailures) {
    TrustTheServer(server);
    server.DieDuringUploadOf("c.txt");
    Run();
    EXPECT_FALSE(run.failures.empty());
    EXPECT_LT(run.copiedCount, 3);
    EXPECT_FALSE(fs::exists(base + "/" + EntryFolderName(dataEntry, 0, false) + "/c.txt"));

    SftpTestServer silent;
    TrustTheServer(silent);
    silent.FallSilent();
    setup.destination = FtpDestination("sftp://" + silent.HostAndPort(), "u", "p", "upload");
    const auto start = std::chrono::steady_clock::now();
    Run();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_EQ(run.copiedCount, 0);
    ASSERT_FALSE(run.failures.empty());
    EXPECT_THAT(run.failures.back(), HasSubstr("not uploaded"));
}

}  // namespace
