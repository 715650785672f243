#include "CliProcess.h"
#include "CliTestHome.h"
#include "sources/Entries.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"
#include "support/FtpTestServer.h"
#include "support/TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <tuple>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {
constexpr char kFull[] = "000000000000000";
constexpr char kIncremental[] = "100000000000000";
constexpr char kIndexNames[] = "000000100000000";

struct FileState {
    std::string kind;  // "file", "link" or "folder"
    std::string content;
    std::int64_t modifiedNanoseconds = 0;
    bool operator==(const FileState&) const = default;
};

void PrintTo(const FileState& state, std::ostream* out) {
    *out << state.kind << " \"" << state.content << "\" " << state.modifiedNanoseconds;
}

// Every path below root with what it holds and its modification time;
// withFolders adds the folders (with their times).
std::map<std::string, FileState> TreeState(const std::string& root, bool withFolders = true) {
    std::map<std::string, FileState> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat status {};
        lstat(entry.path().c_str(), &status);
        FileState state;
        state.modifiedNanoseconds = status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec;
        if (S_ISLNK(status.st_mode)) {
            state.kind = "link";
            state.content = fs::read_symlink(entry.path()).string();
        } else if (S_ISDIR(status.st_mode)) {
            if (!withFolders) continue;
            state.kind = "folder";
        } else {
            state.kind = "file";
            state.content = ReadTestFile(entry.path().string());
        }
        tree[entry.path().string()] = state;
    }
    return tree;
}

std::time_t ModifiedSeconds(const std::string& path) {
    struct stat status {};
    lstat(path.c_str(), &status);
    return status.st_mtime;
}

class RestoreTest : public ::testing::Test, public CliTestHome {
protected:
    RestoreTest() {
        WriteTestFile(Data() + "/a/b.txt", "bee");
        WriteTestFile(Data() + "/c/d.txt", "dee");
        fs::create_symlink("a/b.txt", Data() + "/link");
        WriteTestFile(Notes(), "notes");
        SetModificationTime(Data() + "/a/b.txt", 2024, 3, 6, 20, 15, 30);
        SetModificationTime(Notes(), 2024, 3, 7, 9, 0, 0);
        setup.destination = target.path() + "/backup/...";
        setup.entries = {Data() + "/...", Notes()};
        WriteProject(projectPath, setup);
        SetOptions(kFull);
    }

    void SetOptions(const std::string& options) { settings.SetSetting("Options", options); }
    std::string Data() const { return source.path() + "/Data"; }
    std::string Notes() const { return source.path() + "/notes.txt"; }

    void BackUp() {
        const CliResult result = RunCli({"run", projectPath});
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
    CliResult Restore(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"restore", "--project", projectPath});
        return RunCli(arguments);
    }
    void LoseSources() {
        fs::remove_all(Data());
        fs::remove(Notes());
    }
    void ExpectRestoredBelow(const std::string& prefix) {
        EXPECT_EQ(ReadTestFile(prefix + Data() + "/a/b.txt"), "bee");
        EXPECT_EQ(ReadTestFile(prefix + Data() + "/c/d.txt"), "dee");
        EXPECT_EQ(ReadTestFile(prefix + Notes()), "notes");
        EXPECT_EQ(fs::read_symlink(prefix + Data() + "/link"), "a/b.txt");
    }

    BackupSetup setup;
};

TEST_F(RestoreTest, FullAndIncrementalBackupsComeBackToTheirPlacesWithTheirTimes) {
    for (const char* mode : {kFull, kIncremental}) {
        SCOPED_TRACE(mode);
        fs::remove_all(target.path() + "/backup");
        SetOptions(mode);
        fs::permissions(Data() + "/c", fs::perms(0700));
        BackUp();
        const std::map<std::string, FileState> before = TreeState(source.path());
        LoseSources();
        const CliResult result = Restore({});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(TreeState(source.path()), before) << "contents, links and times as they were";
        EXPECT_EQ(fs::status(Data() + "/c").permissions(), fs::perms(0700))
            << "a private folder stays private";
        EXPECT_THAT(result.out, HasSubstr("restored: " + Data() + "/a/b.txt\n"));
        EXPECT_THAT(result.out, HasSubstr("4 files restored"));
        for (const auto& entry : fs::recursive_directory_iterator(source.path()))
            EXPECT_THAT(entry.path().filename().string(), Not(HasSubstr(".part"))) << "no temporary left";
    }
}

TEST_F(RestoreTest, IndexNamesAndAnotherFolderKeepTheOriginalPaths) {
    SetOptions(kIndexNames);
    BackUp();
    ASSERT_TRUE(fs::exists(target.path() + "/backup/0/a/b.txt"));
    const TempFolder elsewhere;
    const CliResult result = Restore({"--to", elsewhere.path()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ExpectRestoredBelow(elsewhere.path());
    EXPECT_EQ(ModifiedSeconds(elsewhere.path() + Notes()), ModifiedSeconds(Notes()));
}

TEST_F(RestoreTest, NewerLocalFileIsSkippedUnlessOverwriteIsGiven) {
    BackUp();
    WriteTestFile(Notes(), "edited since");
    fs::remove(Data() + "/a/b.txt");
    const CliResult kept = Restore({});
    EXPECT_EQ(kept.exitCode, 0) << kept.err;
    EXPECT_EQ(ReadTestFile(Notes()), "edited since");
    EXPECT_EQ(ReadTestFile(Data() + "/a/b.txt"), "bee");
    EXPECT_THAT(kept.out, HasSubstr("skipped: " + Notes() + ": newer than its backup copy"));
    EXPECT_THAT(kept.out, HasSubstr("1 skipped"));

    const CliResult overwritten = Restore({"--overwrite"});
    EXPECT_EQ(overwritten.exitCode, 0) << overwritten.err;
    EXPECT_EQ(ReadTestFile(Notes()), "notes");
    EXPECT_THAT(overwritten.out, Not(HasSubstr("skipped:")));
}

TEST_F(RestoreTest, FileEntryNamedThroughALinkGoesWhereTheLinkPoints) {
    WriteTestFile(source.path() + "/real.txt", "real");
    fs::create_symlink("real.txt", source.path() + "/named.txt");
    setup.entries.push_back(source.path() + "/named.txt");
    WriteProject(projectPath, setup);
    BackUp();
    WriteTestFile(source.path() + "/real.txt", "damaged");
    SetModificationTime(source.path() + "/real.txt", 2020, 1, 1, 0, 0, 0);
    const CliResult result = Restore({source.path() + "/named.txt"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(fs::is_symlink(source.path() + "/named.txt")) << "the link stays";
    EXPECT_EQ(ReadTestFile(source.path() + "/real.txt"), "real");
}

TEST_F(RestoreTest, MissingCopiesAreListedAndFailTheRestore) {
    BackUp();
    setup.entries.push_back(source.path() + "/added-later.txt");
    setup.entries.push_back(source.path() + "/NewFolder/...");
    WriteProject(projectPath, setup);
    const CliResult result = Restore({});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.out, HasSubstr("missing: " + source.path() + "/added-later.txt: no backup copy at " +
                                      target.path() + "/backup/added-later.txt\n"));
    EXPECT_THAT(result.out, HasSubstr("missing: " + source.path() + "/NewFolder: no backup copy"));
    EXPECT_THAT(result.out, HasSubstr("2 missing"));
    EXPECT_EQ(ReadTestFile(Notes()), "notes") << "the rest is still restored";
}

TEST_F(RestoreTest, DestinationThatCannotBeReadExitsOne) {
    const CliResult absent = Restore({});
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_THAT(absent.err, HasSubstr(target.path() + "/backup: the backup folder does not exist"));

    WriteTestFile(target.path() + "/backup", "a file, not a folder");
    const CliResult notAFolder = Restore({"--dry-run"});
    EXPECT_EQ(notAFolder.exitCode, 1);
    EXPECT_THAT(notAFolder.err, HasSubstr(target.path() + "/backup: not a folder"));
    EXPECT_EQ(ReadTestFile(Notes()), "notes");

    const CliResult badUsage = Restore({"--to"});
    EXPECT_EQ(badUsage.exitCode, 2);
    const CliResult noProject = RunCli({"restore", "--project", home.path() + "/none.tarn"});
    EXPECT_EQ(noProject.exitCode, 2);
    EXPECT_THAT(noProject.err, HasSubstr(home.path() + "/none.tarn"));
    setup.destination = target.path() + "/backup";  // without "/...": the copies would be elsewhere
    WriteProject(projectPath, setup);
    const CliResult wrongForm = Restore({});
    EXPECT_EQ(wrongForm.exitCode, 2);
    EXPECT_THAT(wrongForm.err, HasSubstr("; nothing was restored\n"));
}

TEST_F(RestoreTest, DryRunListsEverythingAndChangesNothing) {
    BackUp();
    fs::remove(Data() + "/a/b.txt");
    WriteTestFile(Notes(), "edited since");
    setup.entries.push_back(source.path() + "/added-later.txt");
    WriteProject(projectPath, setup);
    fs::permissions(projectPath, fs::perms(0644));  // a form a run would normalise
    const std::string projectBefore = ReadTestFile(projectPath);
    const auto sourceBefore = TreeState(source.path());
    const auto targetBefore = TreeState(target.path());

    const CliResult result = Restore({"--dry-run"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.out,
                HasSubstr("would restore: " + Data() + "/a/b.txt (3 Bytes) from " + target.path()));
    EXPECT_THAT(result.out, HasSubstr("skipped: " + Notes()));
    EXPECT_THAT(result.out, HasSubstr("missing: " + source.path() + "/added-later.txt"));
    EXPECT_THAT(result.out, HasSubstr("Dry run: 3 files to restore ("));
    EXPECT_THAT(result.out, HasSubstr("1 skipped, 1 missing; nothing was changed.\n"));
    EXPECT_EQ(TreeState(source.path()), sourceBefore);
    EXPECT_EQ(TreeState(target.path()), targetBefore);
    EXPECT_EQ(ReadTestFile(projectPath), projectBefore);
    EXPECT_EQ(fs::status(projectPath).permissions(), fs::perms(0644));
}

TEST_F(RestoreTest, PathsLimitTheRestoreAndExceptionsStayOut) {
    BackUp();
    setup.entries.push_back("-" + Data() + "/c/...");
    WriteProject(projectPath, setup);
    LoseSources();
    const CliResult limited = Restore({Data() + "/a/", Data() + "/nothing-here"});
    EXPECT_EQ(limited.exitCode, 1) << "a path without a copy is missing";
    EXPECT_EQ(ReadTestFile(Data() + "/a/b.txt"), "bee");
    EXPECT_FALSE(fs::exists(Notes()));
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(Data() + "/link")));
    EXPECT_THAT(limited.out, HasSubstr("missing: " + Data() + "/nothing-here"));

    const CliResult rest = Restore({});
    EXPECT_EQ(rest.exitCode, 0) << rest.err;
    EXPECT_EQ(ReadTestFile(Notes()), "notes");
    EXPECT_FALSE(fs::exists(Data() + "/c")) << "held back by an exception";
}

TEST_F(RestoreTest, FolderAndFileEntriesComeBackFromTheFtpServer) {
    FtpTestServer server;
    setup.destination =
        FtpDestination("ftp://" + server.HostAndPort(), server.user(), server.password(), "up");
    WriteProject(projectPath, setup);
    fs::permissions(Notes(), fs::perms(0640));
    BackUp();
    const std::string remote = server.LoginFolder() + "/up/tarnwick_backup_folder";
    fs::remove_all(Data());
    WriteTestFile(Notes(), "edited since");
    SetModificationTime(Notes(), 2023, 1, 1, 0, 0, 0);  // older than the upload

    const CliResult result = Restore({});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadTestFile(Data() + "/a/b.txt"), "bee");
    EXPECT_EQ(ReadTestFile(Data() + "/c/d.txt"), "dee");
    EXPECT_EQ(ReadTestFile(Notes()), "notes");
    EXPECT_EQ(fs::status(Notes()).permissions(), fs::perms(0640)) << "the mode the server kept";
    EXPECT_EQ(ModifiedSeconds(Notes()), ModifiedSeconds(remote + "/notes.txt"));
    EXPECT_EQ(ModifiedSeconds(Data() + "/c/d.txt"), ModifiedSeconds(remote + "/" + [&] {
                  std::string name = Data();
                  for (char& c : name) c = c == '/' ? '_' : c;
                  return name;
              }() + "/c/d.txt"));

    const TempFolder elsewhere;
    const CliResult limited = Restore({"--to", elsewhere.path(), Notes()});
    EXPECT_EQ(limited.exitCode, 0) << limited.err;
    EXPECT_EQ(ReadTestFile(elsewhere.path() + Notes()), "notes");
    EXPECT_FALSE(fs::exists(elsewhere.path() + Data()));

    home.SetEnv("TARNWICK_FTP_TIMEOUT_SECONDS", "2");
    setup.destination =
        FtpDestination("ftp://127.0.0.1:" + std::to_string(UnusedLoopbackPort()), "u", "p", "up");
    WriteProject(projectPath, setup);
    const CliResult unreachable = Restore({});
    EXPECT_EQ(unreachable.exitCode, 1);
    EXPECT_THAT(unreachable.err, HasSubstr("error: ftp://127.0.0.1:"));
}
}  // namespace
