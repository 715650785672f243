#include "EngineFixture.h"
#include "engine/BackupLayout.h"
#include "engine/Restore.h"
#include "sources/Entries.h"
#include "sources/KnownServers.h"
#include "support/FtpTestServer.h"
#include "support/RecordingReporter.h"
#include "util/TimeText.h"

#include <gmock/gmock.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

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
    bool RemoteHas(const std::string& entry, const std::string& relative) const {
        return fs::exists(Remote(entry) + "/" + relative);
    }
    // Every run mode in turn, each on a fresh remote folder.
    template <typename Check>
    void InBothModes(Check check) {
        for (int mode : {0, 1}) {
            SCOPED_TRACE(mode == 0 ? "full" : "incremental");
            fs::remove_all(server.LoginFolder() + "/upload");
            setup.backupMode = mode;
            StartLog();
            Run();
            check();
        }
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
    home.SetEnv("TARNWICK_REMOTE_CONNECTIONS", "1");
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

TEST_F(BackupRunFtpTest, APassiveDestinationRunsFullAndIncrementalOverPassiveDataConnections) {
    home.SetEnv("TARNWICK_REMOTE_CONNECTIONS", "2");
    setup.destination =
        FtpDestination("ftp://" + server.HostAndPort(), server.user(), server.password(), "upload", true);
    setup.entries = {dataEntry, notesFile};
    InBothModes([&] {
        EXPECT_EQ(ReadTestFile(Remote(dataEntry) + "/a/b.txt"), "bee");
        EXPECT_EQ(ReadTestFile(base + "/notes.txt"), "notes");
        EXPECT_EQ(run.copiedCount, 3);
        EXPECT_TRUE(run.failures.empty());
    });
    const std::vector<std::string> modes = server.DataConnectionModes();
    ASSERT_FALSE(modes.empty());
    EXPECT_EQ(std::count(modes.begin(), modes.end(), "passive"), static_cast<long>(modes.size()));
    // One login for each connection of the two runs, not one per file.
    EXPECT_GE(server.LoginCount(), 2);
    EXPECT_LE(server.LoginCount(), 4);
}

class BackupRunFtpsTest : public EngineFixture {
protected:
    BackupRunFtpsTest() {
        MakeSourceTree();
        setup.destination = FtpDestination("ftps://" + server.HostAndPort(), server.user(), server.password(),
                                           "upload", true);
        setup.entries = {dataEntry, notesFile};
    }
    FtpTestServer server{"tester", "pw-in-the-clear?", FtpTestServer::Security::Tls};
};

TEST_F(BackupRunFtpsTest, AnUntrustedServerGetsNothingATrustedOneFullAndIncrementalRuns) {
    home.SetEnv("TARNWICK_REMOTE_CONNECTIONS", "2");
    StartLog();
    Run();
    EXPECT_EQ(run.copiedCount, 0);
    ASSERT_FALSE(run.failures.empty());
    EXPECT_EQ(server.LoginCount(), 0);
    for (const auto& failure : run.failures) EXPECT_THAT(failure, Not(HasSubstr(server.password())));
    EXPECT_THAT(ReadTestFile(LogPath()), Not(HasSubstr(server.password())));

    KnownServers(settingsFolder).Trust(server.HostAndPort(), *IdentityOfPem(server.CertificatePem()));
    const std::string base = server.LoginFolder() + "/upload/tarnwick_backup_folder";
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode == 0 ? "full" : "incremental");
        setup.backupMode = mode;
        Run();
        EXPECT_TRUE(run.failures.empty());
        EXPECT_EQ(run.copiedCount, 3);
        EXPECT_EQ(ReadTestFile(base + "/" + EntryFolderName(dataEntry, 0, false) + "/a/b.txt"), "bee");
        EXPECT_EQ(ReadTestFile(base + "/notes.txt"), "notes");
    }
    // An older local file is not sent again.
    SetModificationTime(source.path() + "/Data/c.txt", 2020, 1, 1, 12, 0, 0);
    Run();
    EXPECT_EQ(run.copiedCount, 2);
    // At most one login for each of the two connections of the three runs.
    EXPECT_GE(server.LoginCount(), 3);
    EXPECT_LE(server.LoginCount(), 6);
}

TEST_F(BackupRunFtpsTest, ARestoreUsesTheTrustedCertificateOfTheSettingsFolder) {
    KnownServers(settingsFolder).Trust(server.HostAndPort(), *IdentityOfPem(server.CertificatePem()));
    Run();
    ASSERT_EQ(run.copiedCount, 3);
    TempFolder target;
    RecordingReporter withTrust;
    Restorer restorer(setup, withTrust, settingsFolder);
    const RestorePlan plan = restorer.Plan({target.path(), {}, false});
    EXPECT_EQ(plan.Count(RestoreAction::Restore), 3u);
    EXPECT_TRUE(withTrust.errors.empty());
    ASSERT_FALSE(plan.items.empty());
    EXPECT_THAT(plan.items[0].backupCopy, ::testing::StartsWith("ftps://" + server.HostAndPort() + "/"));

    RecordingReporter withoutTrust;
    Restorer untrusting(setup, withoutTrust);
    untrusting.Plan({target.path(), {}, false});
    ASSERT_FALSE(withoutTrust.errors.empty());
    EXPECT_THAT(withoutTrust.errors[0].second, HasSubstr(server.CertificateFingerprint()));
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
    // Only the file that was stored counts.
    EXPECT_EQ(run.copiedCount, 1);
    EXPECT_EQ(run.byteTotal, 3u);
    EXPECT_THAT(ReadTestFile(LogPath()), HasSubstr(Text(TextId::LogFailure) + run.failures[0] + "\r\n"));
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_TRUE(window.messages[0].first.ends_with("\n" + Text(TextId::FailuresPrefix) + "1"));
}

TEST_F(BackupRunFtpTest, UnreachableServerFailsEveryFileQuickly) {
    UseServer("ftp://127.0.0.1:" + std::to_string(UnusedLoopbackPort()));
    setup.entries = {dataEntry, notesFile};
    setup.backupMode = 1;
    EXPECT_EQ(Run(), RunOutcome::Finished);
    // One line for the server, one for all the files that were not uploaded.
    ASSERT_EQ(run.failures.size(), 2u);
    EXPECT_THAT(run.failures[1], HasSubstr("3 files not uploaded: the FTP server cannot be used"));
    EXPECT_EQ(run.copiedCount, 0);
    EXPECT_EQ(reporter.errors.size(), 2u);
}

TEST_F(BackupRunFtpTest, AFullRunWhoseUploadsAllFailCountsNothingCopied) {
    setup.entries = {dataEntry, moreEntry, notesFile};
    for (const char* name : {"b.txt", "c.txt", "d.txt", "notes.txt"}) server.RefuseWithQuotaExceeded(name);
    StartLog();
    Run();
    EXPECT_EQ(run.failures.size(), 4u);
    EXPECT_EQ(run.scannedCount, 4);
    EXPECT_EQ(run.copiedCount, 0);
    EXPECT_EQ(run.byteTotal, 0u);
    EXPECT_THAT(ReadTestFile(LogPath()), HasSubstr(CountLines(4, 0, "0 Bytes")));
    for (const std::string& failure : run.failures)
        EXPECT_THAT(failure, HasSubstr("failed: the server answered \"552 Quota exceeded.\""));
}

TEST_F(BackupRunFtpTest, ExceptionsHoldBackExactlyWhatTheyNameInBothModes) {
    WriteTestFile(source.path() + "/Data/ab/x.txt", "sibling folder");
    WriteTestFile(source.path() + "/Data/c.txt.old", "sibling file");
    setup.entries = {dataEntry, notesFile, "-" + source.path() + "/Data/a/...",
                     "-" + source.path() + "/Data/c.txt", "-" + notesFile};
    InBothModes([&] {
        EXPECT_FALSE(RemoteHas(dataEntry, "a/b.txt"));
        EXPECT_FALSE(RemoteHas(dataEntry, "c.txt"));
        EXPECT_FALSE(fs::exists(base + "/notes.txt"));
        EXPECT_EQ(ReadTestFile(Remote(dataEntry) + "/ab/x.txt"), "sibling folder");
        EXPECT_EQ(ReadTestFile(Remote(dataEntry) + "/c.txt.old"), "sibling file");
        EXPECT_EQ(run.copiedCount, 2);
        EXPECT_THAT(run.failures, IsEmpty());
    });
}

TEST_F(BackupRunFtpTest, LinksInsideFoldersAreSkippedWithALogLineALinkEntryIsFollowed) {
    TempFolder elsewhere;
    WriteTestFile(elsewhere.path() + "/secret.txt", "private");
    const std::string folderLink = source.path() + "/Data/secret-link.txt";
    const std::string entryLink = source.path() + "/notes-link.txt";
    ASSERT_EQ(symlink((elsewhere.path() + "/secret.txt").c_str(), folderLink.c_str()), 0);
    ASSERT_EQ(symlink(notesFile.c_str(), entryLink.c_str()), 0);
    setup.entries = {dataEntry, entryLink};
    InBothModes([&] {
        EXPECT_FALSE(RemoteHas(dataEntry, "secret-link.txt"));
        EXPECT_EQ(ReadTestFile(Remote(dataEntry) + "/c.txt"), "sea!");
        EXPECT_EQ(ReadTestFile(base + "/notes-link.txt"), "notes");
        EXPECT_THAT(ReadTestFile(LogPath()),
                    HasSubstr("Link not uploaded (FTP cannot store links): " + folderLink + "\r\n"));
        EXPECT_THAT(run.failures, IsEmpty());
        EXPECT_EQ(run.copiedCount, 3);
    });
}

TEST_F(BackupRunFtpTest, AFileDeletedAfterTheWalkIsReportedAndTheRunGoesOn) {
    setup.entries = {dataEntry, notesFile};
    const std::string doomed = source.path() + "/Data/c.txt";
    window.onPump = [&] {
        const bool uploading = run.countdownText.starts_with(Text(TextId::FullFtpUploadPrefix)) ||
                               run.countdownText == Text(TextId::SearchingChangedFiles);
        if (uploading) fs::remove(doomed);
    };
    InBothModes([&] {
        EXPECT_THAT(run.failures,
                    ElementsAre(doomed + ": not uploaded: it was deleted after the folder was read"));
        EXPECT_EQ(ReadTestFile(Remote(dataEntry) + "/a/b.txt"), "bee");
        EXPECT_EQ(ReadTestFile(base + "/notes.txt"), "notes");
        EXPECT_EQ(run.copiedCount, 2);
        WriteTestFile(doomed, "back again");
    });
}

TEST_F(BackupRunFtpTest, AServerThatStopsAnsweringIsGivenUpAfterTwoTimeOutsInARow) {
    setenv("TARNWICK_FTP_TIMEOUT_SECONDS", "1", 1);
    struct Restore {
        ~Restore() { unsetenv("TARNWICK_FTP_TIMEOUT_SECONDS"); }
    } restore;
    // One connection, so the files are tried one after the other.
    home.SetEnv("TARNWICK_REMOTE_CONNECTIONS", "1");
    server.FallSilentAfterEachUpload();
    setup.entries = {dataEntry, moreEntry, notesFile};
    StartLog();
    Run();
    // Two files waited for their time-out; the other two were not tried.
    ASSERT_EQ(run.failures.size(), 3u);
    EXPECT_THAT(run.failures[0], HasSubstr("Timeout"));
    EXPECT_THAT(run.failures[1], HasSubstr("Timeout"));
    EXPECT_EQ(run.failures[2],
              "ftp://" + server.HostAndPort() +
                  "/upload/tarnwick_backup_folder: 2 files not uploaded: the FTP server stopped answering (2 "
                  "time-outs in a row)");
    EXPECT_EQ(server.StoredPaths().size(), 2u);
    EXPECT_EQ(run.copiedCount, 0);
    EXPECT_THAT(ReadTestFile(LogPath()), HasSubstr(Text(TextId::LogFailure) + run.failures[2] + "\r\n"));
}
}  // namespace
