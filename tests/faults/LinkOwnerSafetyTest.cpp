// Backups run by root and by an ordinary user over folders that hold links and
// set-id files: nobody gains rights, nothing is read or written through a link,
// modes and owners survive, and both modes treat links alike.
#include "cli/CliProcess.h"
#include "engine/BackupLayout.h"
#include "engine/EngineFixture.h"
#include "storage/ProjectFile.h"
#include "support/Unprivileged.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {
struct stat LinkStatus(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status;
}

// Every entry below the folder: "D" for a folder, "L:<text>" for a link,
// "F:<content>" for a file; links are not followed.
std::map<std::string, std::string> Contents(const std::string& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string relative = entry.path().lexically_relative(folder).string();
        if (entry.is_symlink())
            contents[relative] = "L:" + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            contents[relative] = "D";
        else
            contents[relative] = "F:" + ReadTestFile(entry.path().string());
    }
    return contents;
}

class LinkOwnerSafetyTest : public EngineFixture {
protected:
    void SetUp() override {
        if (!CanDropPrivileges()) GTEST_SKIP() << "needs root to run as root and as another account";
        for (const std::string& folder : {home.path(), source.path(), target.path()})
            ::chmod(folder.c_str(), 0755);
        user = NobodyAccount();
        dataEntry = Source("Data") + "/...";
    }

    std::string Source(const std::string& relative) const { return source.path() + "/" + relative; }
    std::string BackupRootOf(const std::string& name) const { return target.path() + "/" + name; }
    // Where the Data folder's copy lands below a backup root.
    std::string DataCopy(const std::string& rootName, const std::string& relative = "") const {
        return BackupRootOf(rootName) + "/" + EntryFolderName(dataEntry, 0, false) +
               (relative.empty() ? "" : "/" + relative);
    }

    // The user's own folder: their files, owned by them.
    void GiveDataToTheUser() { GiveTreeTo(Source("Data"), user); }

    void RunAsRoot(const std::string& rootName, int mode) {
        setup.destination = BackupRootOf(rootName) + "/...";
        setup.backupMode = mode;
        Run();
    }

    // Runs the backup in a child that is the ordinary user, into a backup root
    // of theirs; check (run in the child after the run) gives the exit code.
    int RunAsUser(const std::string& rootName, int mode, const std::function<int()>& check = {}) {
        setup.destination = BackupRootOf(rootName) + "/...";
        setup.backupMode = mode;
        fs::create_directories(BackupRootOf(rootName));
        GiveTreeTo(BackupRootOf(rootName), user);
        GiveTreeTo(home.path(), user);  // settings, log, run lock and project
        return RunAsUnprivileged([&] {
            BackupContext context = Context();
            if (RunBackup(context) != RunOutcome::Finished) return 100;
            return check ? check() : 0;
        });
    }

    UnprivilegedAccount user{};
};

// Finding 1: root backs up a user's set-id program; the copy must not run
// with root's rights, and a user's copy of root's must not run with theirs.
TEST_F(LinkOwnerSafetyTest, SetIdCopiesNeverCarryAnotherOwnersRights) {
    WriteTestFile(Source("Data/tool"), "#!/bin/sh\nid -u\n");
    WriteTestFile(Source("Data/group-tool"), "#!/bin/sh\nid -g\n");
    WriteTestFile(Source("Data/root-tool"), "#!/bin/sh\nid -u\n");
    GiveDataToTheUser();
    ASSERT_EQ(::chown(Source("Data/root-tool").c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(Source("Data/tool").c_str(), 04755), 0);  // after chown, which clears it
    ASSERT_EQ(::chmod(Source("Data/group-tool").c_str(), 02755), 0);
    ASSERT_EQ(::chmod(Source("Data/root-tool").c_str(), 04755), 0);
    setup.entries = {dataEntry};

    RunAsRoot("root-full", 0);
    RunAsRoot("root-incremental", 1);
    EXPECT_EQ(RunAsUser("user-full", 0), 0);
    EXPECT_EQ(RunAsUser("user-incremental", 1), 0);

    for (const std::string rootName : {"root-full", "root-incremental", "user-full", "user-incremental"}) {
        for (const std::string name : {"tool", "group-tool", "root-tool"}) {
            const struct stat original = LinkStatus(Source("Data/" + name));
            const struct stat copy = LinkStatus(DataCopy(rootName, name));
            ASSERT_TRUE(S_ISREG(copy.st_mode)) << rootName << " " << name;
            const bool setId = (copy.st_mode & (S_ISUID | S_ISGID)) != 0;
            EXPECT_TRUE(!setId || (copy.st_uid == original.st_uid && copy.st_gid == original.st_gid))
                << rootName << " " << name << " is set-id as " << copy.st_uid << ":" << copy.st_gid;
        }
        // What root copied keeps its owner, so the set-id bit is the user's own.
        if (rootName.starts_with("root")) {
            const struct stat copy = LinkStatus(DataCopy(rootName, "tool"));
            EXPECT_EQ(copy.st_uid, user.uid) << rootName;
            EXPECT_EQ(copy.st_mode & 07777, 04755u) << rootName;
        }
    }
}

// Finding 2: a link in the user's folder to a root-only file is backed up as
// that link; the secret's content never reaches the backup.
TEST_F(LinkOwnerSafetyTest, LinkToARootOnlyFileIsBackedUpAsTheLink) {
    const std::string secret = home.path() + "/shadow";
    WriteTestFile(secret, "root only");
    ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
    WriteTestFile(Source("Data/own.txt"), "mine");
    fs::create_symlink(secret, Source("Data/secret-link"));
    GiveDataToTheUser();
    setup.entries = {dataEntry};

    RunAsRoot("root-full", 0);
    RunAsRoot("root-incremental", 1);
    EXPECT_EQ(RunAsUser("user-incremental", 1), 0);

    for (const std::string rootName : {"root-full", "root-incremental", "user-incremental"}) {
        const std::string copy = DataCopy(rootName, "secret-link");
        ASSERT_TRUE(fs::is_symlink(copy)) << rootName;
        EXPECT_EQ(fs::read_symlink(copy), secret) << rootName;
        for (const auto& [path, content] : Contents(BackupRootOf(rootName)))
            EXPECT_THAT(content, Not(HasSubstr("root only"))) << rootName << "/" << path;
    }
}

// Finding 3: a link where a folder of the backup is (stored by a full run, or
// planted) is never written through; the run reports it.
TEST_F(LinkOwnerSafetyTest, LinkInTheBackupIsReportedAndNothingOutsideChanges) {
    const std::string outside = home.path() + "/outside";
    WriteTestFile(outside + "/keep.txt", "kept");
    fs::create_directories(Source("Data"));
    fs::create_directory_symlink(outside, Source("Data/Docs"));
    GiveDataToTheUser();
    setup.entries = {dataEntry};

    RunAsRoot("root", 0);
    ASSERT_TRUE(fs::is_symlink(DataCopy("root", "Docs"))) << "a full run stores the link as a link";
    // The user puts a real folder where the link was.
    fs::remove(Source("Data/Docs"));
    WriteTestFile(Source("Data/Docs/new.txt"), "new");
    WriteTestFile(Source("Data/Docs/keep.txt"), "replaced?");
    GiveDataToTheUser();
    RunAsRoot("root", 1);

    EXPECT_EQ(Contents(outside), (std::map<std::string, std::string>{{"keep.txt", "F:kept"}}));
    EXPECT_TRUE(fs::is_symlink(DataCopy("root", "Docs")));
    ASSERT_FALSE(run.failures.empty());
    EXPECT_THAT(run.failures[0], HasSubstr(DataCopy("root", "Docs")));
    EXPECT_THAT(run.failures[0], HasSubstr("link"));

    // A link planted in the user's own backup, pointing at a folder they may write.
    GiveTreeTo(outside, user);
    fs::create_directories(DataCopy("user"));
    fs::create_directory_symlink(outside, DataCopy("user", "Docs"));
    const int failures = RunAsUser(
        "user", 1, [&] { return static_cast<int>(std::min<std::size_t>(run.failures.size(), 50)); });
    EXPECT_EQ(failures, 2) << "one line for each file that could not be copied";
    EXPECT_EQ(Contents(outside), (std::map<std::string, std::string>{{"keep.txt", "F:kept"}}));
}

// Finding 4: folders and files keep their mode, owner and group in both
// modes, so private stays private and the user can read their own backup.
TEST_F(LinkOwnerSafetyTest, ModesAndOwnersOfFoldersAndFilesAreKept) {
    WriteTestFile(Source("Data/private/notes.txt"), "mine");
    WriteTestFile(Source("Data/open.txt"), "shared");
    GiveDataToTheUser();
    ASSERT_EQ(::chmod(Source("Data").c_str(), 0750), 0);
    ASSERT_EQ(::chmod(Source("Data/private").c_str(), 0700), 0);
    ASSERT_EQ(::chmod(Source("Data/private/notes.txt").c_str(), 0640), 0);
    setup.entries = {dataEntry};

    RunAsRoot("root-full", 0);
    RunAsRoot("root-incremental", 1);
    EXPECT_EQ(RunAsUser("user-incremental", 1), 0);

    for (const std::string rootName : {"root-full", "root-incremental", "user-incremental"}) {
        for (const std::string relative : {"", "private", "private/notes.txt", "open.txt"}) {
            const struct stat original =
                LinkStatus(Source("Data") + (relative.empty() ? "" : "/" + relative));
            const struct stat copy = LinkStatus(DataCopy(rootName, relative));
            EXPECT_EQ(copy.st_mode & 07777, original.st_mode & 07777) << rootName << " " << relative;
            EXPECT_EQ(copy.st_uid, user.uid) << rootName << " " << relative;
            EXPECT_EQ(copy.st_gid, user.gid) << rootName << " " << relative;
        }
        const std::string notes = DataCopy(rootName, "private/notes.txt");
        EXPECT_EQ(RunAsUnprivileged([&] { return ReadTestFile(notes) == "mine" ? 0 : 1; }), 0)
            << "the user reads their own backup in " << rootName;
    }
}

// Finding 5: both modes copy file links, folder links and dangling links as
// links, and an incremental run counts each link like a file.
TEST_F(LinkOwnerSafetyTest, LinksAreCopiedAsLinksInBothModesWithTheSameCounts) {
    WriteTestFile(Source("Data/a.txt"), "a");
    WriteTestFile(Source("Data/sub/b.txt"), "b");
    fs::create_symlink("a.txt", Source("Data/file-link"));
    fs::create_directory_symlink("sub", Source("Data/folder-link"));
    fs::create_symlink("nowhere", Source("Data/dangling"));
    GiveDataToTheUser();
    setup.entries = {dataEntry};

    RunAsRoot("full", 0);
    RunAsRoot("incremental", 1);
    EXPECT_EQ(run.scannedCount, 5);
    EXPECT_EQ(run.copiedCount, 5);
    EXPECT_TRUE(run.failures.empty());
    const std::map<std::string, std::string> expected = Contents(Source("Data"));
    EXPECT_EQ(expected.at("folder-link"), "L:sub");
    EXPECT_EQ(Contents(DataCopy("full")), expected);
    EXPECT_EQ(Contents(DataCopy("incremental")), expected);

    RunAsRoot("incremental", 1);
    EXPECT_EQ(run.scannedCount, 5);
    EXPECT_EQ(run.copiedCount, 0) << "unchanged links are current";

    const int counts = RunAsUser("user", 1, [&] { return run.scannedCount * 10 + run.copiedCount; });
    EXPECT_EQ(counts, 55);
    EXPECT_EQ(Contents(DataCopy("user")), expected);
}
// An entry the running user cannot read is a failure of the run, never a
// "Copied" line or a count.
TEST_F(LinkOwnerSafetyTest, UnreadableEntriesAreFailuresNotCopies) {
    WriteTestFile(Source("Closed/inside.txt"), "root only");
    WriteTestFile(Source("closed.txt"), "root only");
    ASSERT_EQ(::chmod(Source("Closed").c_str(), 0700), 0);
    ASSERT_EQ(::chmod(Source("closed.txt").c_str(), 0600), 0);
    setup.entries = {Source("Closed") + "/...", Source("closed.txt")};
    StartLog();
    for (const int mode : {0, 1}) {
        const int outcome = RunAsUser("user-" + std::to_string(mode), mode, [&] {
            const bool copiedNothing = run.copiedCount == 0 && run.byteTotal == 0;
            const bool logged =
                ReadTestFile(LogPath()).find(Text(TextId::LogCopiedFile)) != std::string::npos;
            return (run.failures.size() == 2 ? 0 : 1) | (copiedNothing ? 0 : 2) | (logged ? 4 : 0);
        });
        EXPECT_EQ(outcome, 0) << "mode " << mode;
    }
}
// The real runner over entries that name nothing: exit 1, each one named, and
// no "Copied" line for any of them, in both modes.
TEST(MissingEntriesThroughTheRunner, ExitOneAndNameEveryMissingEntry) {
    TempHome home;
    TempFolder source;
    TempFolder target;
    PowerClass settings(BinFolder());
    settings.ResolveSettingsFile();
    settings.SetSetting("Options", "000010000000000");  // the log on
    CTranslation texts(BinFolder());
    try {
        texts.Load();
    } catch (const FileError&) {
        // Every text is then "---"; the checks below hold either way.
    }
    WriteTestFile(source.path() + "/notes.txt", "notes");
    fs::create_symlink(source.path() + "/nowhere", source.path() + "/dangling.txt");
    const std::vector<std::string> missing = {source.path() + "/Renamed", source.path() + "/deleted.txt",
                                              source.path() + "/dangling.txt"};
    for (const int mode : {0, 1}) {
        BackupSetup setup;
        setup.destination = target.path() + "/backup" + std::to_string(mode) + "/...";
        setup.backupMode = mode;
        setup.entries = {missing[0] + "/...", missing[1], missing[2], source.path() + "/notes.txt"};
        const std::string project = home.path() + "/project.tarn";
        WriteProject(project, setup);

        const CliResult result = RunCli({"run", project});
        EXPECT_EQ(result.exitCode, 1) << "mode " << mode;
        const std::string log = ReadTestFile(HistoryLogPath(settings.SettingsFolder(), BinFolder()));
        for (const std::string& path : missing) {
            EXPECT_THAT(result.err, HasSubstr(path)) << "mode " << mode;
            EXPECT_THAT(log, HasSubstr(texts.GetText(TextId::LogFailure) + path)) << "mode " << mode;
            EXPECT_THAT(log, Not(HasSubstr(texts.GetText(TextId::LogCopiedFile) + " " + path)));
        }
        EXPECT_EQ(ReadTestFile(target.path() + "/backup" + std::to_string(mode) + "/notes.txt"), "notes");
    }
}
}  // namespace
