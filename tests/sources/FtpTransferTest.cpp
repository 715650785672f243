#include "sources/FtpTransfer.h"

#include "support/FtpTestServer.h"
#include "support/TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

namespace {

constexpr FtpTimeouts kShortTimeouts{2000ms, 2000ms};

class RecordingReporter : public TransferReporter {
public:
    void ReportError(const std::string&, const std::string&) override {}
    void ReportProgress(const TransferProgress& progress) override { reports.push_back(progress); }
    std::vector<TransferProgress> reports;
};

class FtpTransferTest : public ::testing::Test {
protected:
    bool Upload(const std::string& localPath, const std::string& remoteDirectory) {
        return FtpUploadFile(session, localPath, server.HostAndPort(), server.user(), server.password(),
                             remoteDirectory);
    }
    std::string LocalFile(const std::string& name, const std::string& bytes) {
        const std::string path = local.path() + "/" + name;
        WriteTestFile(path, bytes);
        return path;
    }

    TempHome home;
    TempFolder local;
    FtpTestServer server;
    FtpSession session{nullptr, {}, kShortTimeouts};
};

template <typename Operation>
std::chrono::milliseconds Timed(Operation operation) {
    const auto start = std::chrono::steady_clock::now();
    operation();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

TEST_F(FtpTransferTest, UploadsIntoLoginAbsoluteAndRelativeDirectoriesOnOneConnection) {
    const std::string file = LocalFile("report.bin", std::string("\0\r\n\x80\xff binary", 13));
    EXPECT_TRUE(Upload(file, ""));
    EXPECT_TRUE(Upload(file, "/absolute/dir"));
    EXPECT_TRUE(Upload(file, "relative/dir"));
    // After an absolute path the reused connection still resolves relative ones
    // against the login directory.
    EXPECT_TRUE(Upload(file, "relative"));

    for (const std::string& stored :
         {server.LoginFolder() + "/report.bin", server.RootFolder() + "/absolute/dir/report.bin",
          server.LoginFolder() + "/relative/dir/report.bin", server.LoginFolder() + "/relative/report.bin"})
        EXPECT_EQ(ReadTestFile(stored), ReadTestFile(file)) << stored;
    EXPECT_EQ(server.LoginCount(), 1);
    EXPECT_FALSE(fs::exists(server.LoginFolder() + "/report.bin.tarnwick-part"));
}

TEST_F(FtpTransferTest, DataConnectionsAreActiveUnlessPassiveModeIsAskedFor) {
    const std::string file = LocalFile("mode.txt", "either way");
    ASSERT_TRUE(Upload(file, "active")) << session.LastError();
    ASSERT_FALSE(server.DataConnectionModes().empty());
    for (const std::string& mode : server.DataConnectionModes()) EXPECT_EQ(mode, "active");
    const std::size_t activeCount = server.DataConnectionModes().size();

    session.UsePassiveMode(true);
    ASSERT_TRUE(Upload(file, "passive")) << session.LastError();
    std::vector<FtpRemoteFile> files;
    EXPECT_EQ(FtpListFiles(session, server.HostAndPort(), server.user(), server.password(), "passive", false,
                           files),
              FtpListOutcome::Listed);
    EXPECT_EQ(files.size(), 1u);
    fs::create_directories(local.path() + "/back");
    ASSERT_TRUE(FtpDownloadFile(session, local.path() + "/back", server.HostAndPort(), server.user(),
                                server.password(), "passive", "mode.txt"))
        << session.LastError();
    EXPECT_EQ(ReadTestFile(local.path() + "/back/mode.txt"), "either way");
    const std::vector<std::string> modes = server.DataConnectionModes();
    ASSERT_GE(modes.size(), activeCount + 3);
    for (std::size_t i = activeCount; i < modes.size(); ++i) EXPECT_EQ(modes[i], "passive") << i;
    // The mode changes the data connections only: the login is kept.
    EXPECT_EQ(server.LoginCount(), 1);
}

TEST_F(FtpTransferTest, CreatesEveryMissingLevelBelowAnExistingOne) {
    fs::create_directories(server.LoginFolder() + "/existing");
    const std::string file = LocalFile("deep.txt", "deepest");
    ASSERT_TRUE(Upload(file, "existing/one/two/three")) << session.LastError();
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/existing/one/two/three/deep.txt"), "deepest");

    FtpEnsureDirectoryPath(session, "ftp://" + server.HostAndPort(), server.user(), server.password(),
                           "/x/y/z");
    EXPECT_TRUE(fs::is_directory(server.RootFolder() + "/x/y/z"));
    EXPECT_TRUE(FtpMakeSureDirectoryExists(session, server.HostAndPort(), server.user(), server.password(),
                                           "base/tarnwick_backup_folder"));
    EXPECT_TRUE(fs::is_directory(server.LoginFolder() + "/base/tarnwick_backup_folder"));
}

TEST_F(FtpTransferTest, ReplacesAnEarlierCopy) {
    const std::string file = LocalFile("same.txt", "first version, longer");
    ASSERT_TRUE(Upload(file, "d"));
    WriteTestFile(file, "second");
    ASSERT_TRUE(Upload(file, "d"));
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/d/same.txt"), "second");
}

TEST_F(FtpTransferTest, DownloadReplacesALocalFileAndKeepsItWhenTheFetchFails) {
    WriteTestFile(server.LoginFolder() + "/remote/config.ini", "from the server");
    const std::string target = LocalFile("config.ini", "old local content");
    ASSERT_TRUE(FtpDownloadFile(session, local.path(), "ftp://" + server.HostAndPort(), server.user(),
                                server.password(), "remote", "config.ini"))
        << session.LastError();
    EXPECT_EQ(ReadTestFile(target), "from the server");

    EXPECT_FALSE(FtpDownloadFile(session, local.path(), server.HostAndPort(), server.user(),
                                 server.password(), "remote", "missing.ini"));
    EXPECT_FALSE(fs::exists(local.path() + "/missing.ini"));
    EXPECT_FALSE(FtpDownloadFile(session, local.path() + "/no-such-folder", server.HostAndPort(),
                                 server.user(), server.password(), "remote", "config.ini"));
    EXPECT_EQ(ReadTestFile(target), "from the server");
}

TEST_F(FtpTransferTest, RefusedLoginAndClosedPortFailQuicklyWithoutThePassword) {
    const std::string file = LocalFile("a.txt", "a");
    const auto refused = Timed([&] {
        EXPECT_FALSE(
            FtpUploadFile(session, file, server.HostAndPort(), server.user(), "wrong-password-42", ""));
    });
    EXPECT_LT(refused, 5s);
    EXPECT_FALSE(session.LastError().empty());
    EXPECT_EQ(session.LastError().find("wrong-password-42"), std::string::npos);

    const auto closed = Timed([&] {
        EXPECT_FALSE(FtpUploadFile(session, file, "127.0.0.1:" + std::to_string(UnusedLoopbackPort()),
                                   server.user(), server.password(), ""));
    });
    EXPECT_LT(closed, 5s);
    // Back at the right server with the right password, the session works.
    EXPECT_TRUE(Upload(file, "")) << session.LastError();
}

TEST_F(FtpTransferTest, UnusableServerTextsFailCleanly) {
    const std::string file = LocalFile("a.txt", "a");
    const std::string port = std::to_string(server.port());
    const std::vector<std::string> unusable = {
        "ftp://",       "127.0.0.1:70000",           "127.0.0.1:0", "127.0.0.1:", "local host:" + port,
        "127.0.0.1:2x", "127.0.0.1:" + port + "/pub"};
    for (const std::string& text : unusable) {
        EXPECT_FALSE(FtpUploadFile(session, file, text, server.user(), server.password(), "")) << text;
        EXPECT_FALSE(session.LastError().empty()) << text;
    }
    // The prefix comes off, blanks around the name and a closing "/" are forgiven.
    EXPECT_TRUE(
        FtpUploadFile(session, file, "ftp://127.0.0.1:" + port + "/ ", server.user(), server.password(), ""))
        << session.LastError();
}

TEST(FtpTransferCredentials, SpecialCharactersReachTheServerUnchanged) {
    TempHome home;
    TempFolder local;
    FtpTestServer server("us@er:n/ä\xc3\xa9", "p@ss:w/rd\xe2\x82\xac#?%");
    FtpSession session(nullptr, {}, kShortTimeouts);
    WriteTestFile(local.path() + "/f.txt", "x");
    EXPECT_TRUE(FtpUploadFile(session, local.path() + "/f.txt", server.HostAndPort(), server.user(),
                              server.password(), ""))
        << session.LastError();
    EXPECT_TRUE(fs::exists(server.LoginFolder() + "/f.txt"));
}

TEST_F(FtpTransferTest, NamesWithBlanksAndNonAsciiBytesArriveAsTheyAre) {
    const std::string name = "my file #1 ?%20 \xc3\xa4\xe2\x82\xac;type=a.txt";
    const std::string file = LocalFile(name, "payload");
    ASSERT_TRUE(Upload(file, "folder with blanks/\xc3\xbcml\xc3\xa4ut")) << session.LastError();
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/folder with blanks/\xc3\xbcml\xc3\xa4ut/" + name),
              "payload");

    ASSERT_TRUE(FtpDownloadFile(session, local.path() + "/..", server.HostAndPort(), server.user(),
                                server.password(), "folder with blanks/\xc3\xbcml\xc3\xa4ut", name));
}

TEST_F(FtpTransferTest, LineBreaksInNamesAreRefusedBeforeTheyReachTheServer) {
    const std::string file = LocalFile("a.txt", "a");
    EXPECT_FALSE(Upload(file, "dir\r\nDELE victim"));
    EXPECT_FALSE(FtpUploadFile(session, file, server.HostAndPort(), server.user() + "\r\nSITE x", "p", ""));
    EXPECT_EQ(server.LoginCount(), 0);
}

TEST_F(FtpTransferTest, MissingOrUnreadableLocalFilesFail) {
    EXPECT_FALSE(Upload(local.path() + "/vanished.txt", "made/anyway"));
    EXPECT_NE(session.LastError().find("vanished.txt"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(server.LoginFolder() + "/made/anyway"));

    fs::create_directories(local.path() + "/a-folder");
    EXPECT_FALSE(Upload(local.path() + "/a-folder", ""));
    EXPECT_FALSE(fs::exists(server.LoginFolder() + "/a-folder"));
}

TEST_F(FtpTransferTest, ConnectionLostMidTransferKeepsTheOldCopyAndTheNextUploadReconnects) {
    const std::string file = LocalFile("big.bin", "old copy");
    ASSERT_TRUE(Upload(file, "big"));
    WriteTestFile(file, std::string(50u << 20, 'x'));
    server.DropConnectionDuringNextUpload(4u << 20);

    EXPECT_FALSE(Upload(file, "big"));
    EXPECT_FALSE(session.LastError().empty());
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/big/big.bin"), "old copy");

    const std::string small = LocalFile("small.txt", "after the break");
    EXPECT_TRUE(Upload(small, "big")) << session.LastError();
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/big/small.txt"), "after the break");
    EXPECT_EQ(server.LoginCount(), 2);
}

TEST_F(FtpTransferTest, QuotaReplyFailsTheUploadAndIsNamedFirst) {
    server.RefuseWithQuotaExceeded("full.txt");
    EXPECT_FALSE(Upload(LocalFile("full.txt", "too much"), "q"));
    // The server's own words say what failed, without what the library
    // noted on the way.
    EXPECT_EQ(session.LastError(),
              "storing \"q/full.txt.tarnwick-part\" failed: the server answered \"552 Quota exceeded.\"");
    EXPECT_FALSE(session.LastFailureTimedOut());
    EXPECT_EQ(session.LastStoredSize(), 0u);
    EXPECT_FALSE(fs::exists(server.LoginFolder() + "/q/full.txt"));
    EXPECT_FALSE(fs::exists(server.LoginFolder() + "/q/full.txt.tarnwick-part"));
    EXPECT_TRUE(Upload(LocalFile("fits.txt", "ok"), "q"));
    EXPECT_EQ(session.LastStoredSize(), 2u);
}

TEST_F(FtpTransferTest, RefusedLoginSaysWhatTheServerAnswered) {
    EXPECT_FALSE(FtpUploadFile(session, LocalFile("a.txt", "a"), server.HostAndPort(), server.user(),
                               "wrong-password-42", ""));
    EXPECT_THAT(session.LastError(), HasSubstr("failed: the server answered \"530 "));
    EXPECT_THAT(session.LastError(), Not(HasSubstr("wrong-password-42")));
}

TEST_F(FtpTransferTest, AnAccountThatMayNotRenameGetsTheFilesUnderTheirFinalNames) {
    server.RefuseRenameAndDelete();
    const std::string first = LocalFile("first.txt", "first");
    ASSERT_TRUE(Upload(first, "store-only")) << session.LastError();
    ASSERT_TRUE(Upload(LocalFile("second.txt", "second"), "store-only")) << session.LastError();
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/store-only/first.txt"), "first");
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/store-only/second.txt"), "second");
    // Once the rename was refused, later files go straight to their names:
    // the part file the server would not let us delete is the only one.
    EXPECT_EQ(server.StoredPaths(),
              (std::vector<std::string>{server.LoginFolder() + "/store-only/first.txt.tarnwick-part",
                                        server.LoginFolder() + "/store-only/first.txt",
                                        server.LoginFolder() + "/store-only/second.txt"}));
    WriteTestFile(first, "first, again");
    ASSERT_TRUE(Upload(first, "store-only")) << session.LastError();
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/store-only/first.txt"), "first, again");
}

TEST_F(FtpTransferTest, StoredFilesKeepTheSourcePermissions) {
    const std::string privateFile = LocalFile("private.txt", "mine");
    const std::string sharedFile = LocalFile("shared.txt", "ours");
    ASSERT_EQ(chmod(privateFile.c_str(), 0600), 0);
    ASSERT_EQ(chmod(sharedFile.c_str(), 0640), 0);
    ASSERT_TRUE(Upload(privateFile, "modes"));
    ASSERT_TRUE(Upload(sharedFile, "modes"));
    const auto permissions = [](const std::string& path) {
        struct stat status {};
        EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
        return status.st_mode & 07777;
    };
    EXPECT_EQ(permissions(server.LoginFolder() + "/modes/private.txt"), 0600u);
    EXPECT_EQ(permissions(server.LoginFolder() + "/modes/shared.txt"), 0640u);

    // Stored under the final name when renaming is refused, the mode is set too.
    server.RefuseRenameAndDelete();
    ASSERT_TRUE(Upload(privateFile, "modes/direct"));
    ASSERT_TRUE(Upload(privateFile, "modes/direct"));
    EXPECT_EQ(permissions(server.LoginFolder() + "/modes/direct/private.txt"), 0600u);

    // A server that will not change modes still gets the file.
    server.RefuseModeChanges();
    ASSERT_TRUE(Upload(privateFile, "modes/kept-as-made")) << session.LastError();
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/modes/kept-as-made/private.txt"), "mine");
}

TEST_F(FtpTransferTest, ALinkIsFollowedOnlyWhenAllowed) {
    const std::string secret = LocalFile("secret.txt", "behind the link");
    ASSERT_EQ(symlink(secret.c_str(), (local.path() + "/link.txt").c_str()), 0);
    EXPECT_FALSE(FtpUploadFile(session, local.path() + "/link.txt", server.HostAndPort(), server.user(),
                               server.password(), "links", LocalLinks::Refuse));
    EXPECT_THAT(session.LastError(), HasSubstr("link"));
    EXPECT_FALSE(fs::exists(server.LoginFolder() + "/links/link.txt"));
    std::int32_t copied = 0;
    std::uint64_t bytes = 0;
    EXPECT_EQ(FtpUploadIfNewer(session, local.path() + "/link.txt", server.HostAndPort(), server.user(),
                               server.password(), "links", copied, bytes, LocalLinks::Refuse),
              UploadOutcome::Failed);
    EXPECT_FALSE(fs::exists(server.LoginFolder() + "/links/link.txt"));
    EXPECT_EQ(copied, 0);

    EXPECT_TRUE(Upload(local.path() + "/link.txt", "links"));
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/links/link.txt"), "behind the link");
}

TEST(FtpTransferTimeouts, AServerSilentAfterTheDataIsATimeOutARefusalIsNot) {
    TempHome home;
    TempFolder local;
    FtpTestServer server;
    FtpSession session(nullptr, {}, FtpTimeouts{1000ms, 1000ms});
    WriteTestFile(local.path() + "/f.txt", "data");
    server.FallSilentAfterEachUpload();
    EXPECT_FALSE(FtpUploadFile(session, local.path() + "/f.txt", server.HostAndPort(), server.user(),
                               server.password(), "silent"));
    EXPECT_TRUE(session.LastFailureTimedOut()) << session.LastError();
    EXPECT_FALSE(fs::exists(server.LoginFolder() + "/silent/f.txt"));

    server.RefuseWithQuotaExceeded("f.txt");
    EXPECT_FALSE(FtpUploadFile(session, local.path() + "/f.txt", server.HostAndPort(), server.user(),
                               server.password(), "silent"));
    EXPECT_FALSE(session.LastFailureTimedOut()) << session.LastError();
}

TEST(FtpTransferTimeouts, TheEnvironmentCanShortenARunsTimeOuts) {
    const FtpTimeouts defaults;
    const auto withVariable = [](const char* value) {
        setenv("TARNWICK_FTP_TIMEOUT_SECONDS", value, 1);
        const FtpTimeouts timeouts = FtpTimeoutsFromEnvironment();
        unsetenv("TARNWICK_FTP_TIMEOUT_SECONDS");
        return timeouts;
    };
    const FtpTimeouts shortened = withVariable("3");
    EXPECT_EQ(shortened.connect, 3s);
    EXPECT_EQ(shortened.stall, 3s);
    for (const char* unusable : {"", "0", "-5", "abc", "5s", "3601"}) {
        EXPECT_EQ(withVariable(unusable).stall, defaults.stall) << unusable;
        EXPECT_EQ(withVariable(unusable).connect, defaults.connect) << unusable;
    }
    EXPECT_EQ(FtpTimeoutsFromEnvironment().stall, defaults.stall);
}

TEST(FtpTransferTimeouts, ASilentServerTimesOutWhilePumpKeepsRunning) {
    TempHome home;
    TempFolder local;
    SilentServer silent;
    int pumps = 0;
    FtpSession session(
        nullptr, [&] { ++pumps; }, FtpTimeouts{1000ms, 1000ms});
    WriteTestFile(local.path() + "/f.txt", "x");
    const auto took = Timed([&] {
        EXPECT_FALSE(FtpUploadFile(session, local.path() + "/f.txt",
                                   "127.0.0.1:" + std::to_string(silent.port()), "u", "p", ""));
    });
    EXPECT_LT(took, 5s);
    EXPECT_GE(took, 900ms) << session.LastError();
    EXPECT_FALSE(session.LastError().empty());
    // At least one pump per 100 ms while the server keeps quiet.
    EXPECT_GE(pumps, static_cast<int>(took / 100ms) - 1);
}

TEST_F(FtpTransferTest, ProgressAndPumpDuringAnUpload) {
    RecordingReporter reporter;
    int pumps = 0;
    FtpSession watched(
        &reporter, [&] { ++pumps; }, kShortTimeouts);
    const std::string file = LocalFile("three-mb.bin", std::string(3u << 20, 'p'));
    ASSERT_TRUE(FtpUploadFile(watched, file, server.HostAndPort(), server.user(), server.password(), ""));
    ASSERT_FALSE(reporter.reports.empty());
    EXPECT_EQ(reporter.reports.back().currentFile, file);
    EXPECT_EQ(reporter.reports.back().fileBytesDone, 3u << 20);
    EXPECT_EQ(reporter.reports.back().fileBytesTotal, 3u << 20);
    EXPECT_GE(pumps, 2);
}

TEST_F(FtpTransferTest, AnOperationStartedFromThePumpIsRefused) {
    bool nestedResult = true;
    std::string nestedError;
    FtpSession* self = nullptr;
    const std::string other = LocalFile("other.txt", "o");
    FtpSession reentrant(
        nullptr,
        [&] {
            if (self == nullptr) return;
            FtpSession& session = *self;
            self = nullptr;
            nestedResult =
                FtpUploadFile(session, other, server.HostAndPort(), server.user(), server.password(), "");
            nestedError = session.LastError();
        },
        kShortTimeouts);
    self = &reentrant;
    EXPECT_TRUE(FtpUploadFile(reentrant, LocalFile("main.txt", "m"), server.HostAndPort(), server.user(),
                              server.password(), ""));
    EXPECT_FALSE(nestedResult);
    EXPECT_FALSE(nestedError.empty());
}

TEST_F(FtpTransferTest, NewCredentialsLogInAgain) {
    const std::string file = LocalFile("a.txt", "a");
    EXPECT_TRUE(Upload(file, "one"));
    EXPECT_TRUE(Upload(file, "two"));
    EXPECT_EQ(server.LoginCount(), 1);
    EXPECT_FALSE(FtpUploadFile(session, file, server.HostAndPort(), "someone-else", "x", "three"));
    EXPECT_TRUE(Upload(file, "three"));
    EXPECT_EQ(server.LoginCount(), 2);
}

}  // namespace

namespace {
std::vector<std::string> ListedPaths(const std::vector<FtpRemoteFile>& files) {
    std::vector<std::string> paths;
    for (const FtpRemoteFile& file : files)
        paths.push_back(file.relativePath + " " + std::to_string(file.size));
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST_F(FtpTransferTest, ListsFilesFlatOrRecursivelyAndTellsAMissingDirectory) {
    ASSERT_TRUE(Upload(LocalFile("a.txt", "aa"), "up"));
    ASSERT_TRUE(Upload(LocalFile("b.txt", "bbb"), "up/sub/deep"));
    WriteTestFile(server.LoginFolder() + "/up/sub/c.txt.tarnwick-part", "cut off");
    const auto list = [&](const std::string& directory, bool recursive, std::vector<FtpRemoteFile>& files) {
        return FtpListFiles(session, server.HostAndPort(), server.user(), server.password(), directory,
                            recursive, files);
    };
    std::vector<FtpRemoteFile> flat;
    EXPECT_EQ(list("up", false, flat), FtpListOutcome::Listed);
    EXPECT_EQ(ListedPaths(flat), std::vector<std::string>{"/a.txt 2"});
    std::vector<FtpRemoteFile> tree;
    EXPECT_EQ(list("up", true, tree), FtpListOutcome::Listed);
    EXPECT_EQ(ListedPaths(tree), (std::vector<std::string>{"/a.txt 2", "/sub/deep/b.txt 3"}));
    struct stat status {};
    ASSERT_EQ(stat((server.LoginFolder() + "/up/a.txt").c_str(), &status), 0);
    EXPECT_EQ(tree.front().modified, status.st_mtime);
    EXPECT_EQ(tree.front().mode, static_cast<int>(status.st_mode & 07777));

    std::vector<FtpRemoteFile> none;
    EXPECT_EQ(list("nothing-here", true, none), FtpListOutcome::Missing) << session.LastError();
    server.RefuseListings();
    EXPECT_EQ(list("up", true, none), FtpListOutcome::Failed);
    EXPECT_THAT(session.LastError(), HasSubstr("MLSD"));
    EXPECT_TRUE(none.empty());
}
}  // namespace
