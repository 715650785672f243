#include "EngineFixture.h"
#include "engine/BackupLayout.h"
#include "sources/Entries.h"
#include "support/FtpTestServer.h"
#include "util/TimeText.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {
class BackupRunFtpTest : public EngineFixture {
protected:
    BackupRunFtpTest() {
        MakeSourceTree();
        WriteTestFile(source.path() + "/More/d.txt", "dee");
        moreEntry = source.path() + "/More/...";
        UseServer("ftp://" + server.HostAndPort());
        base = server.LoginFolder() + "/upload/tarnwick_backup_folder";
    }

    void UseServer(const std::string& host) {
        setup.destination = FtpDestination(host, server.user(), server.password(), "upload");
    }
    std::string Remote(const std::string& entry) const {
        return base + "/" + EntryFolderName(entry, 0, false);
    }
    std::string CountLines(int scanned, int copied, const std::string& size) const {
        return Text(TextId::ScannedPrefix) + std::to_string(scanned) + "\r\n" + Text(TextId::CopiedPrefix) +
               std::to_string(copied) + "\r\n" + Text(TextId::SizePrefix) + " " + size + "\r\n";
    }

    FtpTestServer server;
    std::string moreEntry;
    std::string base;
};

TEST_F(BackupRunFtpTest, FullRunMirrorsEachFolderBelowTheRemoteBaseOverOneLogin) {
    setup.entries = {dataEntry, moreEntry, notesFile};
    StartLog();
    ASSERT_EQ(Run(), RunOutcome::Finished);

    EXPECT_EQ(ReadTestFile(Remote(dataEntry) + "/a/b.txt"), "bee");
    EXPECT_EQ(ReadTestFile(Remote(dataEntry) + "/c.txt"), "sea!");
    EXPECT_EQ(ReadTestFile(Remote(moreEntry) + "/d.txt"), "dee");
    EXPECT_EQ(ReadTestFile(base + "/notes.txt"), "notes");
    // The second folder uploads only its own files.
    EXPECT_EQ(server.StoredPaths().size(), 4u);
    EXPECT_EQ(server.LoginCount(), 1);
    EXPECT_EQ(run.scannedCount, 4);
    EXPECT_EQ(run.copiedCount, 4);
    EXPECT_EQ(run.byteTotal, 15u);
    EXPECT_TRUE(run.failures.empty());

    EXPECT_EQ(ReadTestFile(LogPath()), kLogHeader + kRunSeparator + TimeText() + Text(TextId::RunStarted) +
                                           "\r\n" + Text(TextId::LogCopiedFolder) + " " + dataEntry + "\r\n" +
                                           Text(TextId::LogCopiedFolder) + " " + moreEntry + "\r\n" +
                                           CountLines(4, 4, "15 Bytes") + TimeText() +
                                           Text(TextId::RunEnded) + "\r\n");
}

TEST_F(BackupRunFtpTest, IncrementalRunSkipsFilesWhoseRemoteCopyIsFromALaterDay) {
    setup.entries = {dataEntry, notesFile};
    setup.backupMode = 1;
    StartLog();
    Run();
    EXPECT_EQ(ReadTestFile(Remote(dataEntry) + "/a/b.txt"), "bee");
    EXPECT_EQ(ReadTestFile(base + "/notes.txt"), "notes");
    EXPECT_EQ(run.scannedCount, 3);
    EXPECT_EQ(run.copiedCount, 3);

    // Same day as the remote copies: uploaded again; an older local file: not.
    SetModificationTime(source.path() + "/Data/c.txt", 2020, 1, 1, 12, 0, 0);
    WriteHistoryHeader(LogPath());
    Run();
    EXPECT_EQ(run.scannedCount, 3);
    EXPECT_EQ(run.copiedCount, 2);
    EXPECT_EQ(run.byteTotal, 8u);
    EXPECT_EQ(ReadTestFile(LogPath()), kLogHeader + kRunSeparator + TimeText() + Text(TextId::RunStarted) +
                                           "\r\n" + CountLines(3, 2, "8 Bytes") + TimeText() +
                                           Text(TextId::RunEnded) + "\r\n");
}

TEST_F(BackupRunFtpTest, RefusedUploadIsAFailureInLogAndSummary) {
    setup.entries = {dataEntry};
    SetOption(3, '1');
    StartLog();
    server.RefuseWithQuotaExceeded("c.txt");
    Run();
    EXPECT_EQ(ReadTestFile(Remote(dataEntry) + "/a/b.txt"), "bee");
    ASSERT_EQ(run.failures.size(), 1u);
    EXPECT_THAT(run.failures[0], HasSubstr(source.path() + "/Data/c.txt"));
    EXPECT_THAT(run.failures[0], Not(HasSubstr(server.password())));
    // The counts stay as they are defined: every file tried counts.
    EXPECT_EQ(run.copiedCount, 2);
    EXPECT_THAT(ReadTestFile(LogPath()), HasSubstr(Text(TextId::LogFailure) + run.failures[0] + "\r\n"));
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_TRUE(window.messages[0].first.ends_with("\n" + Text(TextId::FailuresPrefix) + "1"));
}

TEST_F(BackupRunFtpTest, UnreachableServerFailsEveryFileQuickly) {
    UseServer("ftp://127.0.0.1:" + std::to_string(UnusedLoopbackPort()));
    setup.entries = {dataEntry, notesFile};
    setup.backupMode = 1;
    EXPECT_EQ(Run(), RunOutcome::Finished);
    // One line for the server, one for each file that was not uploaded.
    EXPECT_EQ(run.failures.size(), 4u);
    EXPECT_EQ(run.copiedCount, 0);
    EXPECT_EQ(reporter.errors.size(), 4u);
}
}  // namespace
