#include "sources/FtpListing.h"
#include "sources/FtpTransfer.h"
#include "sources/SftpHostKeys.h"

#include "support/SftpTestServer.h"
#include "support/TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// SFTP against a real server on loopback with a host key of its own.

namespace {

constexpr FtpTimeouts kShortTimeouts{2000ms, 2000ms};

class SftpTest : public ::testing::Test {
protected:
    SftpTest() { session.UseProtocol(RemoteProtocol::Sftp, settings.path()); }
    bool Upload(FtpSession& through, const std::string& remoteDirectory, const std::string& password) {
        return FtpUploadFile(through, file, server.HostAndPort(), server.user(), password, remoteDirectory);
    }
    bool Upload(const std::string& remoteDirectory) {
        return Upload(session, remoteDirectory, server.password());
    }
    void TrustTheServer() { WriteTestFile(settings.path() + "/known_hosts", server.KnownHostsLine() + "\n"); }

    TempHome home;
    TempFolder local;
    TempFolder settings;
    SftpTestServer server{"tester", "pass-5ecret"};
    FtpSession session{nullptr, {}, kShortTimeouts};
    std::string file = [this] {
        const std::string path = local.path() + "/data bin";
        WriteTestFile(path, std::string("over\0ssh", 8));
        chmod(path.c_str(), 0640);
        return path;
    }();
};

TEST_F(SftpTest, AnUnknownHostKeyIsRefusedWithItsFingerprintUntilAccepted) {
    EXPECT_FALSE(Upload("up"));
    EXPECT_THAT(session.LastError(),
                AllOf(HasSubstr("is not known"), HasSubstr(server.HostKeyFingerprint()),
                      HasSubstr("trust-host"), HasSubstr("127.0.0.1"), Not(HasSubstr(server.password()))));
    ASSERT_TRUE(session.UnverifiedCertificate().has_value());
    EXPECT_EQ(session.UnverifiedCertificate()->fingerprint, server.HostKeyFingerprint());
    // The login never reached the server.
    EXPECT_TRUE(server.Events().empty());

    const SftpKnownHosts knownHosts(settings.path(), "");
    knownHosts.Trust(KnownHostsName("127.0.0.1", server.port()), *session.UnverifiedCertificate());
    struct stat status {};
    ASSERT_EQ(stat(knownHosts.FilePath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadTestFile(knownHosts.FilePath()), server.KnownHostsLine() + "\n");

    ASSERT_TRUE(Upload("up")) << session.LastError();
    EXPECT_FALSE(session.UnverifiedCertificate().has_value());
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/up/data bin"), ReadTestFile(file));
    EXPECT_THAT(server.StoredPaths(), ElementsAre("/login/up/data bin.tarnwick-part"));
}

TEST_F(SftpTest, AKeyTheUserKnowsFromTheirOwnKnownHostsIsAccepted) {
    fs::create_directories(home.path() + "/.ssh");
    WriteTestFile(home.path() + "/.ssh/known_hosts", "# mine\n" + server.KnownHostsLine() + "\n");
    FtpSession fresh{nullptr, {}, kShortTimeouts};
    fresh.UseProtocol(RemoteProtocol::Sftp, settings.path());
    EXPECT_TRUE(Upload(fresh, "up", server.password())) << fresh.LastError();
}

TEST_F(SftpTest, AChangedHostKeyIsRefusedNamingBothFingerprints) {
    TrustTheServer();
    const std::string before = server.HostKeyFingerprint();
    server.RenewHostKey();
    EXPECT_FALSE(Upload("up"));
    EXPECT_THAT(session.LastError(),
                AllOf(HasSubstr("has changed"), HasSubstr(before), HasSubstr(server.HostKeyFingerprint())));
    // Only a key never seen may be offered for acceptance.
    EXPECT_FALSE(session.UnverifiedCertificate().has_value());
    EXPECT_TRUE(server.Events().empty());
}

TEST_F(SftpTest, StoresListsFetchesAndKeepsTheMode) {
    TrustTheServer();
    ASSERT_TRUE(Upload("a/b c")) << session.LastError();
    // A second upload replaces the first copy.
    WriteTestFile(file, "newer");
    ASSERT_TRUE(Upload("a/b c")) << session.LastError();
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/a/b c/data bin"), "newer");
    struct stat status {};
    ASSERT_EQ(stat((server.LoginFolder() + "/a/b c/data bin").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_FALSE(fs::exists(server.LoginFolder() + "/a/b c/data bin.tarnwick-part"));

    std::vector<FtpRemoteFile> files;
    ASSERT_EQ(FtpListFiles(session, server.HostAndPort(), server.user(), server.password(), "a", true, files),
              FtpListOutcome::Listed)
        << session.LastError();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].relativePath, "/b c/data bin");
    EXPECT_EQ(files[0].size, 5u);
    EXPECT_EQ(files[0].mode, 0640);
    EXPECT_EQ(files[0].modified, status.st_mtime);
    EXPECT_EQ(
        FtpListFiles(session, server.HostAndPort(), server.user(), server.password(), "none", true, files),
        FtpListOutcome::Missing);

    fs::create_directories(local.path() + "/back");
    ASSERT_TRUE(FtpDownloadFile(session, local.path() + "/back", server.HostAndPort(), server.user(),
                                server.password(), "a/b c", "data bin"))
        << session.LastError();
    EXPECT_EQ(ReadTestFile(local.path() + "/back/data bin"), "newer");
}

TEST_F(SftpTest, AnAccountThatMayNotRenameGetsTheFileUnderItsFinalName) {
    TrustTheServer();
    server.RefuseRenameAndDelete();
    ASSERT_TRUE(Upload("up")) << session.LastError();
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/up/data bin"), ReadTestFile(file));
    // The rest of the session stores straight away.
    WriteTestFile(file, "second");
    ASSERT_TRUE(Upload("up")) << session.LastError();
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/up/data bin"), "second");
    EXPECT_EQ(server.StoredPaths().back(), "/login/up/data bin");
}

TEST_F(SftpTest, AbsolutePathsLeaveTheLoginFolder) {
    TrustTheServer();
    ASSERT_TRUE(Upload("/top")) << session.LastError();
    EXPECT_TRUE(fs::exists(server.RootFolder() + "/top/data bin"));
}

TEST_F(SftpTest, IncrementalUploadSkipsACopyOfALaterDay) {
    TrustTheServer();
    std::int32_t copied = 0;
    std::uint64_t bytes = 0;
    // Local file from long ago: the copy the server holds is newer.
    ASSERT_TRUE(Upload("inc"));
    struct timespec old[2] = {{946684800, 0}, {946684800, 0}};
    utimensat(AT_FDCWD, file.c_str(), old, 0);
    EXPECT_EQ(FtpUploadIfNewer(session, file, server.HostAndPort(), server.user(), server.password(), "inc",
                               copied, bytes),
              UploadOutcome::Skipped);
    // A day before the copy's: the listing's time (in an unknown zone) cannot
    // tell, the file's own time can.
    const std::time_t yesterday = std::time(nullptr) - 30 * 3600;
    struct timespec recent[2] = {{yesterday, 0}, {yesterday, 0}};
    utimensat(AT_FDCWD, file.c_str(), recent, 0);
    FtpSession fresh{nullptr, {}, kShortTimeouts};
    fresh.UseProtocol(RemoteProtocol::Sftp, settings.path());
    EXPECT_EQ(FtpUploadIfNewer(fresh, file, server.HostAndPort(), server.user(), server.password(), "inc",
                               copied, bytes),
              UploadOutcome::Skipped)
        << fresh.LastError();
    EXPECT_EQ(server.StoredPaths().size(), 1u);
    // A file the server does not hold yet is stored.
    EXPECT_EQ(FtpUploadIfNewer(session, file, server.HostAndPort(), server.user(), server.password(), "inc2",
                               copied, bytes),
              UploadOutcome::Uploaded)
        << session.LastError();
    EXPECT_EQ(copied, 1);
    EXPECT_EQ(bytes, 8u);
}

TEST_F(SftpTest, AWrongPasswordFailsWithoutShowingIt) {
    TrustTheServer();
    EXPECT_FALSE(Upload(session, "up", "wrong-password"));
    EXPECT_THAT(session.LastError(), AllOf(HasSubstr("Login denied"), Not(HasSubstr("wrong-password"))));
    EXPECT_TRUE(server.StoredPaths().empty());
}

TEST_F(SftpTest, LogsInWithTheUsersKeyWhenThePasswordIsEmpty) {
    TrustTheServer();
    fs::create_directories(home.path() + "/.ssh");
    const std::string key = home.path() + "/.ssh/id_ed25519";
    ASSERT_EQ(std::system(("ssh-keygen -q -t ed25519 -N '' -f '" + key + "' >/dev/null 2>&1").c_str()), 0);
    server.AuthorizeKey(key + ".pub");
    ASSERT_TRUE(Upload(session, "up", "")) << session.LastError();
    // The key is offered, then signed with: the server notes both.
    EXPECT_THAT(server.Events(), AllOf(Contains("LOGIN publickey"), Not(Contains("LOGIN password"))));
}

TEST_F(SftpTest, AServerDyingOrFallingSilentFailsInBoundedTime) {
    TrustTheServer();
    server.DieDuringUploadOf("data");
    EXPECT_FALSE(Upload("up"));
    EXPECT_FALSE(session.LastError().empty());

    SftpTestServer silent;
    WriteTestFile(settings.path() + "/known_hosts", silent.KnownHostsLine() + "\n");
    silent.FallSilent();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(FtpUploadFile(session, file, silent.HostAndPort(), silent.user(), silent.password(), "up"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_TRUE(session.LastFailureTimedOut()) << session.LastError();
}

TEST(SftpLongListing, ReadsTypeModeSizeAndNameOfUsualServers) {
    const auto entries = ParseLongListing(
        "-rw-r-----   1 0        0               6 09 Dec 18:30 two  blanks\n"
        "drwxr-xr-x    2 user     group        4096 Dec  9  2020 sub\r\n"
        "lrwxrwxrwx    1 user     group           4 Dec  9 10:00 link -> sub\n"
        "-rwsr-x--x 1 u g 12 Jan 1 2001 x\n"
        "garbage\n",
        946684800);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "two  blanks");
    EXPECT_TRUE(entries[0].isFile);
    EXPECT_EQ(entries[0].mode, 0640);
    EXPECT_EQ(entries[0].size, 6u);
    EXPECT_EQ(entries[1].name, "sub");
    EXPECT_TRUE(entries[1].isDirectory);
    EXPECT_EQ(entries[2].mode, 0751);
}

TEST(SftpLongListing, ATimeInTheServersZoneGivesTheEarliestMomentItCanMean) {
    // 2026-12-09 20:00 UTC.
    constexpr std::time_t kNow = 1796846400;
    constexpr std::time_t kFourteenHours = 14 * 3600;
    const auto entries = ParseLongListing(
        "-rw-r--r-- 1 0 0 6 09 Dec 18:30 recent\n"
        "-rw-r--r-- 1 u g 6 Dec 31 23:59 last-year\n"
        "-rw-r--r-- 1 u g 6 Feb  3  2020 old\n"
        "-rw-r--r-- 1 u g 6 3 févr. 2020 unknown\n",
        kNow);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].modifiedAtLeast, 1796841000 - kFourteenHours);  // 2026-12-09 18:30
    EXPECT_EQ(entries[1].modifiedAtLeast, 1767225540 - kFourteenHours);  // 2025-12-31 23:59
    EXPECT_EQ(entries[2].modifiedAtLeast, 1580688000 - kFourteenHours);  // 2020-02-03 00:00
    EXPECT_EQ(entries[3].modifiedAtLeast, -1);
    EXPECT_EQ(entries[0].modified, -1);
}

// A key made by ssh-keygen: its public line, and the key itself as a server
// sends it.
struct ToolKey {
    std::string line;
    std::string blob;
};

ToolKey MakeToolKey(const std::string& path) {
    const std::string command = "ssh-keygen -q -t ed25519 -N '' -f '" + path +
                                "' >/dev/null 2>&1 && cut -d' ' -f2 '" + path + ".pub' | base64 -d > '" +
                                path + ".blob'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("ssh-keygen failed");
    const std::string line = ReadTestFile(path + ".pub");
    return {line.substr(0, line.find(' ', line.find(' ') + 1)), ReadTestFile(path + ".blob")};
}

TEST(SftpHostKeys, FingerprintsAndHashedNamesMatchTheSshTools) {
    TempFolder folder;
    const ToolKey key = MakeToolKey(folder.path() + "/k");
    const ToolKey other = MakeToolKey(folder.path() + "/o");
    const std::string printed = CommandOutput("ssh-keygen -l -E sha256 -f '" + folder.path() + "/k.pub'");
    EXPECT_THAT(printed, HasSubstr(HostKeyFingerprint(key.blob) + " "));
    EXPECT_EQ(HostKeyIdentity(key.blob).publicKeyPin, key.line);

    // The user's file with hashed names, as ssh-keygen -H leaves it.
    const std::string users = folder.path() + "/known";
    WriteTestFile(users, "[example.org]:2222 " + key.line + "\n");
    ASSERT_EQ(std::system(("ssh-keygen -q -H -f '" + users + "' >/dev/null 2>&1").c_str()), 0);
    ASSERT_THAT(ReadTestFile(users), Not(HasSubstr("example.org")));
    TempFolder settings;
    const SftpKnownHosts knownHosts(settings.path(), users);
    const std::string name = KnownHostsName("Example.ORG", 2222);
    EXPECT_EQ(name, "[example.org]:2222");
    EXPECT_EQ(KnownHostsName("h", 22), "h");
    EXPECT_EQ(knownHosts.Check(name, key.blob).verdict, HostKeyVerdict::Known);
    EXPECT_EQ(knownHosts.Check("[example.org]:2223", key.blob).verdict, HostKeyVerdict::Unknown);
    const HostKeyCheck changed = knownHosts.Check(name, other.blob);
    EXPECT_EQ(changed.verdict, HostKeyVerdict::Changed);
    EXPECT_EQ(changed.knownFingerprint, HostKeyFingerprint(key.blob));

    // The program's own file speaks first, and accepting a key replaces the
    // one of the same type.
    knownHosts.Trust(name, HostKeyIdentity(other.blob));
    EXPECT_EQ(knownHosts.Check(name, other.blob).verdict, HostKeyVerdict::Known);
    EXPECT_EQ(knownHosts.Check(name, key.blob).verdict, HostKeyVerdict::Changed);
    knownHosts.Trust(name, HostKeyIdentity(key.blob));
    EXPECT_EQ(ReadTestFile(knownHosts.FilePath()), name + " " + key.line + "\n");
}

}  // namespace
