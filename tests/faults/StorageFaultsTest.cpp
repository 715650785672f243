// Bad, blocked, full and concurrently edited project and settings files under
// the real command-line runner.
#include "cli/CliProcess.h"
#include "cli/CliTestHome.h"
#include "i18n/CTranslation.h"
#include "sources/Entries.h"
#include "storage/FirstStart.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"
#include "support/SmallFileSystem.h"
#include "support/TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

class StorageFaults : public ::testing::Test, public CliTestHome {
protected:
    StorageFaults() {
        WriteTestFile(source.path() + "/notes.txt", "notes");
        setup.destination = LocalDestination(target.path() + "/backup");
        setup.entries = {source.path() + "/notes.txt"};
        setup.interval = 45;
        setup.minutesRemaining = 7;
        WriteProject(projectPath, setup);
        settings.SetSetting("Options", "000000000000000");
    }

    std::string NotesCopy() const { return target.path() + "/backup/notes.txt"; }
    std::string SettingsFile() const { return home.SettingsFolder() + "/config.ini"; }

    // The runner refused the file at path: exit 2, one line naming it, no backup.
    void ExpectRefused(const CliResult& result, const std::string& path) const {
        EXPECT_EQ(result.exitCode, 2) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_THAT(result.err, HasSubstr(path));
        EXPECT_FALSE(fs::exists(NotesCopy()));
    }

    BackupSetup setup;
};

// What a damaged or foreign file may hold instead of a project or settings.
std::vector<std::pair<std::string, std::string>> DamagedContents(const std::string& goodFile) {
    return {
        {"empty", ""},
        {"garbage", "lorem ipsum dolor\r\nsit amet\r\n*\r\n"},
        {"binary", std::string("\x7f"
                               "ELF\x02\x01\x01\0\0\0",
                               10) +
                       std::string(5000, '\0') + "\xff\xfe"},
        {"non-UTF-8", "Sicherung f\xFCr M\xFCller\r\n\xFF\xFE\xE4\xF6\r\n"},
        {"a 10 MB line", std::string(10'000'000, 'x')},
        {"a 10 MB line after good lines", goodFile + std::string(10'000'000, 'x')},
        {"truncated", goodFile.substr(0, 10)},
    };
}

TEST_F(StorageFaults, DamagedProjectFilesAreRefusedInOneLineAndKept) {
    for (const auto& [kind, content] : DamagedContents(ReadTestFile(projectPath))) {
        SCOPED_TRACE(kind);
        WriteTestFile(projectPath, content);
        ExpectRefused(RunCli({"run", projectPath}), projectPath);
        EXPECT_TRUE(ReadTestFile(projectPath) == content);
    }
    // A FIFO without a writer would block a plain read for ever; a device
    // would be read until memory runs out.
    const std::string fifo = home.path() + "/fifo.tarn";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        ExpectRefused(RunCli({"run", path}), path);
    }
}

TEST_F(StorageFaults, DamagedSettingsFilesAreRefusedInOneLineAndKept) {
    const std::string good = ReadTestFile(SettingsFile());
    // Cut before "Options": the run would otherwise go on with made-up options.
    const std::string truncated = good.substr(0, good.find("Options") + 3);
    std::vector<std::pair<std::string, std::string>> contents = DamagedContents(good);
    contents.emplace_back("truncated before its options", truncated);
    for (const auto& [kind, content] : contents) {
        SCOPED_TRACE(kind);
        WriteTestFile(SettingsFile(), content);
        ExpectRefused(RunCli({"run", projectPath}), SettingsFile());
        EXPECT_TRUE(ReadTestFile(SettingsFile()) == content);
    }
    fs::remove(SettingsFile());
    ASSERT_EQ(::mkfifo(SettingsFile().c_str(), 0600), 0);
    ExpectRefused(RunCli({"run", projectPath}), SettingsFile());
}

// A project cut after its header still loads by the lenient rules: the run
// backs up what it names, and writing it back loses nothing it held.
TEST_F(StorageFaults, ProjectCutInsideItsEntryLineKeepsEveryEntryItHeld) {
    setup.entries.push_back(FolderEntry(source.path() + "/Data"));
    WriteProject(projectPath, setup);
    const std::string whole = ReadTestFile(projectPath);
    WriteTestFile(projectPath, whole.substr(0, whole.size() - 3));
    BackupSetup cut;
    ASSERT_EQ(ReadProject(projectPath, cut), ProjectLoad::Loaded);
    ASSERT_EQ(cut.entries.size(), 2u);

    RunCli({"run", projectPath});
    EXPECT_EQ(ReadTestFile(NotesCopy()), "notes");
    BackupSetup after;
    ASSERT_EQ(ReadProject(projectPath, after), ProjectLoad::Loaded);
    EXPECT_EQ(after.entries, cut.entries);
    EXPECT_EQ(after.destination, setup.destination);
}

TEST_F(StorageFaults, ProjectEditedDuringARunKeepsTheEdit) {
    // Enough files that the run is still going when the test edits the project.
    const std::string many = source.path() + "/many";
    for (int i = 0; i < 1000; ++i) WriteTestFile(many + "/f" + std::to_string(i) + ".txt", "x");
    setup.entries.push_back(FolderEntry(many));
    WriteProject(projectPath, setup);

    CliProcess cli({"run", projectPath});
    ASSERT_TRUE(cli.WaitForStderrLine());  // loaded and running
    cli.Signal(SIGSTOP);
    BackupSetup edited = setup;
    edited.entries = {source.path() + "/notes.txt", source.path() + "/added later.txt"};
    edited.destination = LocalDestination(target.path() + "/elsewhere");
    edited.interval = 90;
    WriteProject(projectPath, edited);
    cli.Signal(SIGCONT);
    EXPECT_EQ(cli.Finish(), 0) << cli.Stderr();

    BackupSetup saved;
    ASSERT_EQ(ReadProject(projectPath, saved), ProjectLoad::Loaded);
    EXPECT_EQ(saved.entries, edited.entries);
    EXPECT_EQ(saved.destination, edited.destination);
    EXPECT_EQ(saved.interval, 90);
    // The run's own lines are saved all the same.
    EXPECT_EQ(saved.lastRun.size(), 16u);
    EXPECT_EQ(saved.minutesRemaining, 45);
}

TEST_F(StorageFaults, FullDiskUnderTheSettingsFolderStillLetsTheBackupRun) {
    const SmallFileSystem disk(256 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << disk.WhyNotMounted();
    const std::string& config = disk.path();
    home.SetEnv("XDG_CONFIG_HOME", config);

    PowerClass full(BinFolder());
    full.ResolveSettingsFile();
    ASSERT_EQ(full.SettingsFolder().rfind(config, 0), 0u) << full.SettingsFolder();
    ProvisionHistoryLog(full);
    const std::string project = config + "/project.tarn";
    full.SetSetting("Path", project);
    // Both want writing before the backup: the short options are completed, the
    // project with LF line ends is normalised.
    full.SetSetting("Options", "00000");
    const std::string projectBytes =
        "Tarnwick Backup Project\n==\n\n" + setup.destination + "\n45\n7\n\n" + setup.entries.front() + "*";
    WriteTestFile(project, projectBytes);
    const std::string settingsBytes = ReadTestFile(full.SettingsFile());
    disk.FillUp();

    const CliResult result = RunCli({"run"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(ReadTestFile(NotesCopy()), "notes");
    EXPECT_THAT(result.err, HasSubstr(project));
    EXPECT_THAT(result.err, HasSubstr(full.SettingsFile()));
    EXPECT_THAT(result.out, HasSubstr(texts.GetText(TextId::FailuresPrefix)));
    EXPECT_EQ(ReadTestFile(project), projectBytes);
    EXPECT_EQ(ReadTestFile(full.SettingsFile()), settingsBytes);
}

}  // namespace

namespace {
TEST_F(StorageFaults, FullDiskUnderTheProjectIsALoggedFailureOfARunThatStillBacksUp) {
    const SmallFileSystem disk(128 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << disk.WhyNotMounted();
    const std::string& folder = disk.path();
    const std::string project = folder + "/project.tarn";
    // LF line ends: loading wants to write the project back normalised.
    const std::string bytes =
        "Tarnwick Backup Project\n==\n\n" + setup.destination + "\n45\n7\n\n" + setup.entries.front() + "*";
    WriteTestFile(project, bytes);
    disk.FillUp();
    settings.SetSetting("Options", "000010000000000");  // log on

    const CliResult result = RunCli({"run", project});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(ReadTestFile(NotesCopy()), "notes");
    EXPECT_THAT(result.err, HasSubstr(project));
    EXPECT_EQ(ReadTestFile(project), bytes);
    const std::string log = ReadTestFile(home.SettingsFolder() + "/history.txt");
    EXPECT_THAT(log, HasSubstr(texts.GetText(TextId::LogFailure) + project));
}
}  // namespace
