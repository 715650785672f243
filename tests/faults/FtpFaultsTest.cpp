#include "cli/CliProcess.h"
#include "engine/BackupLayout.h"
#include "sources/Entries.h"
#include "storage/HistoryLog.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"
#include "support/FtpTestServer.h"
#include "support/TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

// The real command-line runner against a real FTP server that misbehaves:
// every run ends in bounded time, says what went wrong, leaves nothing
// half-written under a file's own name, and never shows the password.

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Every time-out of the runs below; a run waits at most twice this for a
// silent server before it gives the server up.
constexpr char kTimeoutSeconds[] = "3";
// Far above the few seconds these runs need, far below the minutes the
// default time-outs would cost.
constexpr auto kRunBound = 30s;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The command lines of this process's children that run the CLI.
std::vector<std::string> CliCommandLines() {
    std::vector<std::string> lines;
    const std::string parent = std::to_string(getpid());
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (!std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
        const std::string stat = ReadWhole(entry.path().string() + "/stat");
        // "pid (comm) state ppid ...": the name may hold blanks, so count from ")".
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        std::string ppid;
        rest >> state >> ppid;
        if (ppid != parent) continue;
        std::string commandLine = ReadWhole(entry.path().string() + "/cmdline");
        std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
        if (commandLine.find("tarnwick-backup-cli") != std::string::npos) lines.push_back(commandLine);
    }
    return lines;
}

class FtpFaultsTest : public ::testing::Test {
protected:
    FtpFaultsTest() : server("backup-user", kPassword), settings(BinFolder()) {
        setenv("TARNWICK_FTP_TIMEOUT_SECONDS", kTimeoutSeconds, 1);
        settings.ResolveSettingsFile();
        settings.SetSetting("Options", "000010000000000");  // full runs, log on
        for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"}) AddFile(name, name + content);
        projectPath = home.path() + "/ftp.tarn";
        SavePassword(kPassword);
    }
    ~FtpFaultsTest() override { unsetenv("TARNWICK_FTP_TIMEOUT_SECONDS"); }

    void AddFile(const std::string& name, const std::string& bytes) {
        WriteTestFile(source.path() + "/" + name, bytes);
        setup.entries.push_back(source.path() + "/" + name);
    }
    void SavePassword(const std::string& password) {
        setup.destination =
            FtpDestination("ftp://" + server.HostAndPort(), server.user(), password, "backups");
        WriteProject(projectPath, setup);
    }
    std::string Remote(const std::string& name) const {
        return server.LoginFolder() + "/backups/tarnwick_backup_folder/" + name;
    }
    std::string LogText() const { return ReadWhole(HistoryLogPath(settings.SettingsFolder(), BinFolder())); }

    // Runs the CLI to its end; while it runs, its command line is read from
    // the process list.
    CliResult Run() {
        const auto start = std::chrono::steady_clock::now();
        CliProcess process({"run", projectPath});
        process.WaitForStderrLine();
        commandLines = CliCommandLines();
        const int code = process.Finish();
        took = std::chrono::steady_clock::now() - start;
        return {code, process.Stdout(), process.Stderr()};
    }

    void ExpectBoundedAndThePasswordNowhere(const CliResult& result, const std::string& password) {
        EXPECT_LT(took, kRunBound);
        EXPECT_THAT(result.out, Not(HasSubstr(password)));
        EXPECT_THAT(result.err, Not(HasSubstr(password)));
        EXPECT_THAT(LogText(), Not(HasSubstr(password)));
        for (const std::string& line : commandLines) EXPECT_THAT(line, Not(HasSubstr(password)));
    }

    // A file on the server is either absent or the whole source file.
    void ExpectNothingHalfWritten() {
        for (const std::string& path : setup.entries) {
            const std::string name = fs::path(path).filename().string();
            if (fs::exists(Remote(name))) {
                EXPECT_EQ(ReadTestFile(Remote(name)), ReadTestFile(path)) << name;
            }
        }
    }

    static constexpr char kPassword[] = "Pw-9f3kq-unshown";
    static inline const std::string content = " holds these bytes";
    TempHome home;
    TempFolder source;
    FtpTestServer server;
    PowerClass settings;
    BackupSetup setup;
    std::string projectPath;
    std::vector<std::string> commandLines;
    std::chrono::steady_clock::duration took{};
};

TEST_F(FtpFaultsTest, AWrongPasswordIsReportedWithTheServersReply) {
    const std::string wrong = "Wrong-7hx2-password";
    SavePassword(wrong);
    const CliResult result = Run();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err, HasSubstr("\"MKD backups\" failed: the server answered \"530 "));
    EXPECT_THAT(result.err, HasSubstr("5 files not uploaded: the FTP server cannot be used"));
    EXPECT_EQ(server.StoredPaths().size(), 0u);
    ExpectBoundedAndThePasswordNowhere(result, wrong);
}

TEST_F(FtpFaultsTest, AServerKilledMidTransferFailsTheRestQuickly) {
    // One connection, so "the rest" are the files after the big one.
    home.SetEnv("TARNWICK_REMOTE_CONNECTIONS", "1");
    AddFile("big.bin", std::string(4u << 20, 'b'));
    AddFile("z.txt", "after the crash");
    SavePassword(kPassword);
    server.DieDuringUploadOf("big.bin");
    const CliResult result = Run();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(ReadTestFile(Remote("a.txt")), "a.txt" + content);
    EXPECT_FALSE(fs::exists(Remote("big.bin")));
    EXPECT_THAT(result.err, HasSubstr(source.path() + "/big.bin"));
    EXPECT_THAT(result.err, HasSubstr(source.path() + "/z.txt"));
    EXPECT_FALSE(fs::exists(Remote("z.txt")));
    ExpectNothingHalfWritten();
    ExpectBoundedAndThePasswordNowhere(result, kPassword);
}

TEST_F(FtpFaultsTest, AServerThatTakesUploadsAndNeverAnswersIsGivenUpAfterTwoTimeOuts) {
    // One connection, so the files are tried one after the other.
    home.SetEnv("TARNWICK_REMOTE_CONNECTIONS", "1");
    server.FallSilentAfterEachUpload();
    const CliResult result = Run();
    EXPECT_EQ(result.exitCode, 1);
    // Two files waited for their time-out; one line stands for the other three.
    EXPECT_EQ(server.StoredPaths().size(), 2u);
    EXPECT_THAT(result.err, HasSubstr("3 files not uploaded: the FTP server stopped answering"));
    EXPECT_THAT(LogText(), HasSubstr("3 files not uploaded"));
    // The run lasted seconds: its command line was there to be read.
    EXPECT_EQ(commandLines.size(), 1u);
    // The data arrived under the part name only; no final name holds it.
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"})
        EXPECT_FALSE(fs::exists(Remote(name)));
    ExpectBoundedAndThePasswordNowhere(result, kPassword);
}

TEST_F(FtpFaultsTest, AQuotaRefusalFailsThatFileOnlyAndLeavesNoPartFile) {
    server.RefuseWithQuotaExceeded("c.txt");
    const CliResult result = Run();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err, HasSubstr(source.path() + "/c.txt"));
    EXPECT_THAT(result.err, HasSubstr("failed: the server answered \"552 Quota exceeded.\""));
    EXPECT_FALSE(fs::exists(Remote("c.txt")));
    EXPECT_FALSE(fs::exists(Remote("c.txt.tarnwick-part")));
    for (const char* name : {"a.txt", "b.txt", "d.txt", "e.txt"})
        EXPECT_TRUE(fs::exists(Remote(name))) << name;
    ExpectNothingHalfWritten();
    ExpectBoundedAndThePasswordNowhere(result, kPassword);
}

TEST_F(FtpFaultsTest, AnAccountThatMayNotRenameStillGetsEveryFile) {
    server.RefuseRenameAndDelete();
    const CliResult result = Run();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"})
        EXPECT_EQ(ReadTestFile(Remote(name)), name + content);
    ExpectBoundedAndThePasswordNowhere(result, kPassword);
}

TEST_F(FtpFaultsTest, ALinkToAPrivateFileInsideAFolderIsNotUploadedAPrivateFileStaysPrivate) {
    TempFolder elsewhere;
    const std::string secret = elsewhere.path() + "/root-only.txt";
    WriteTestFile(secret, "root only");
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    WriteTestFile(source.path() + "/Folder/own.txt", "own, private");
    ASSERT_EQ(chmod((source.path() + "/Folder/own.txt").c_str(), 0600), 0);
    ASSERT_EQ(symlink(secret.c_str(), (source.path() + "/Folder/innocent.txt").c_str()), 0);
    setup.entries = {source.path() + "/Folder/..."};
    SavePassword(kPassword);
    const CliResult result = Run();
    EXPECT_EQ(result.exitCode, 0) << result.err;

    const std::string folder = Remote(EntryFolderName(setup.entries[0], 0, false));
    EXPECT_FALSE(fs::exists(folder + "/innocent.txt"));
    EXPECT_THAT(LogText(), HasSubstr("Link not uploaded (FTP cannot store links): " + source.path() +
                                     "/Folder/innocent.txt"));
    struct stat status {};
    ASSERT_EQ(stat((folder + "/own.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ExpectBoundedAndThePasswordNowhere(result, kPassword);
}

}  // namespace
