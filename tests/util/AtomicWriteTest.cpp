#include "util/FileError.h"
#include "util/TextFile.h"

#include "support/FileSizeLimit.h"
#include "support/TempHome.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {
std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return 0;
    return status.st_mode & 07777;
}

void ExpectFileErrorNaming(const std::string& path, const std::string& bytes) {
    try {
        WriteFileAtomically(path, bytes);
        ADD_FAILURE() << "no FileError for " << path;
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), path);
    }
}
}  // namespace

class AtomicWriteTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return home_.path() + "/" + name; }
    TempHome home_;
};

TEST_F(AtomicWriteTest, ReplacesTheWholeContent) {
    const std::string path = Path("config.ini");
    WriteTestFile(path, std::string(5000, 'o'));
    WriteFileAtomically(path, "new\r\n");
    EXPECT_EQ(ReadTestFile(path), "new\r\n");
    WriteFileAtomically(path, "");
    EXPECT_EQ(ReadTestFile(path), "");
    EXPECT_EQ(Names(home_.path()).count("config.ini"), 1u);
}

TEST_F(AtomicWriteTest, FullDiskLeavesTheOldFileWholeAndNoTemporary) {
    const std::string path = Path("settings.ini");
    const std::string old = "old value\r\n";
    WriteTestFile(path, old);
    const auto before = Names(home_.path());
    {
        FileSizeLimit limit(1000);
        ExpectFileErrorNaming(path, std::string(100000, 'n'));
    }
    EXPECT_EQ(ReadTestFile(path), old);
    EXPECT_EQ(Names(home_.path()), before);
}

TEST_F(AtomicWriteTest, FolderInTheWayIsAnErrorAndStaysUntouched) {
    const std::string path = Path("history.txt");
    fs::create_directories(path + "/inside");
    const auto before = Names(home_.path());
    ExpectFileErrorNaming(path, "text");
    EXPECT_TRUE(fs::is_directory(path + "/inside"));
    EXPECT_EQ(Names(home_.path()), before);
}

TEST_F(AtomicWriteTest, MissingFolderOrTooLongNameIsAnError) {
    ExpectFileErrorNaming(Path("no-such-folder/file.txt"), "text");
    // A file where a folder must be.
    WriteTestFile(Path("plain"), "x");
    ExpectFileErrorNaming(Path("plain/file.txt"), "text");
    ExpectFileErrorNaming(Path(std::string(300, 'n')), "text");
    EXPECT_EQ(Names(home_.path()), (std::set<std::string>{".cache", ".config", ".local", "Documents", "Music",
                                                          "Pictures", "Videos", "plain"}));
}

TEST_F(AtomicWriteTest, NameNearTheLengthLimitStillWorks) {
    const std::string path = Path(std::string(250, 'n'));
    WriteFileAtomically(path, "long name");
    EXPECT_EQ(ReadTestFile(path), "long name");
}

TEST_F(AtomicWriteTest, NewFileGetsTheModeLimitLessUmask) {
    const mode_t oldMask = ::umask(022);
    WriteFileAtomically(Path("secret.tarn"), "password", 0600);
    WriteFileAtomically(Path("open.txt"), "text");
    ::umask(oldMask);
    EXPECT_EQ(ModeOf(Path("secret.tarn")), 0600u);
    EXPECT_EQ(ModeOf(Path("open.txt")), 0644u);
}

TEST_F(AtomicWriteTest, ExistingFileKeepsItsModeWithinTheLimit) {
    const std::string shared = Path("shared.txt");
    WriteTestFile(shared, "x");
    ::chmod(shared.c_str(), 0640);
    WriteFileAtomically(shared, "y");
    EXPECT_EQ(ModeOf(shared), 0640u);

    const std::string secret = Path("project.tarn");
    WriteTestFile(secret, "x");
    ::chmod(secret.c_str(), 0644);
    WriteFileAtomically(secret, "ftp password", 0600);
    EXPECT_EQ(ModeOf(secret), 0600u);
}

TEST_F(AtomicWriteTest, WritesThroughALinkToItsTarget) {
    const std::string target = Path("Documents/real.ini");
    WriteTestFile(target, "old");
    fs::create_symlink(target, Path("link.ini"));
    WriteFileAtomically(Path("link.ini"), "new");
    EXPECT_TRUE(fs::is_symlink(Path("link.ini")));
    EXPECT_EQ(ReadTestFile(target), "new");
}

// Root ignores modes: the writer is nobody, in a folder nobody may write.
TEST_F(AtomicWriteTest, FileTheWriterMayNotWriteIsRefusedAndKept) {
    if (!CanDropPrivileges()) GTEST_SKIP() << "needs root to switch accounts";
    const std::string folder = Path("Documents/shared");
    fs::create_directories(folder);
    ::chmod(home_.path().c_str(), 0755);
    ::chmod(Path("Documents").c_str(), 0755);
    const std::string readOnly = folder + "/read-only.tarn";
    WriteTestFile(readOnly, "kept");
    GiveTreeTo(folder, NobodyAccount());
    ::chmod(readOnly.c_str(), 0444);
    const auto before = Names(folder);
    const int result = RunAsUnprivileged([&] {
        try {
            WriteFileAtomically(readOnly, "replaced", 0600);
            return 1;
        } catch (const FileError& error) {
            return error.path() == readOnly ? 0 : 2;
        }
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadTestFile(readOnly), "kept");
    EXPECT_EQ(ModeOf(readOnly), 0444u);
    EXPECT_EQ(Names(folder), before);
}

TEST_F(AtomicWriteTest, StaleTemporariesOfGoneWritersAreRemovedAndNothingElse) {
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);
    const std::string dead = std::to_string(gone);
    const std::string stale = ".p.tarn.tmp" + dead + "-0-0";
    const std::set<std::string> kept = {
        ".p.tarn.tmp1-4-0",              // its writer still runs
        ".p.tarn.tmp" + dead + "-0-0x",  // not the pattern
        ".p.tarn.tmp" + dead + "-0",
        ".p.tarn.tmp-0-0",
        ".q.tarn.tmp" + dead + "-0-0",  // another target's
        "p.tarn.tmp" + dead + "-0-0",
    };
    for (const std::string& name : kept) WriteTestFile(Path(name), "keep");
    WriteTestFile(Path(stale), "ftp password");
    fs::create_directory(Path(".p.tarn.tmp" + dead + "-1-0"));

    WriteFileAtomically(Path("p.tarn"), "saved", 0600);
    EXPECT_FALSE(fs::exists(Path(stale)));
    for (const std::string& name : kept) EXPECT_EQ(ReadTestFile(Path(name)), "keep") << name;
    EXPECT_TRUE(fs::is_directory(Path(".p.tarn.tmp" + dead + "-1-0")));
    EXPECT_EQ(ReadTestFile(Path("p.tarn")), "saved");
}
