#include "CliProcess.h"
#include "CliTestHome.h"
#include "engine/BackupLayout.h"
#include "engine/RunLock.h"
#include "i18n/CTranslation.h"
#include "sources/Entries.h"
#include "storage/FirstStart.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"
#include "support/FtpTestServer.h"
#include "support/TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {
class CliTest : public ::testing::Test, public CliTestHome {
protected:
    CliTest() {
        WriteTestFile(source.path() + "/Data/a/b.txt", "bee");
        WriteTestFile(source.path() + "/notes.txt", "notes");
        setup.destination = target.path() + "/backup/...";
        setup.entries = {source.path() + "/Data/...", source.path() + "/notes.txt"};
        setup.interval = 45;
        setup.minutesRemaining = 7;
        WriteProject(projectPath, setup);
        SetOptions("000000000000000");
    }

    void SetOptions(const std::string& options) { settings.SetSetting("Options", options); }
    std::string Root() const { return target.path() + "/backup"; }
    std::string DataCopy() const {
        return Root() + "/" + [&] {
            std::string name = source.path() + "/Data";
            for (char& c : name) c = c == '/' ? '_' : c;
            return name;
        }();
    }
    BackupSetup SavedProject() const {
        BackupSetup saved;
        EXPECT_EQ(LoadProject(projectPath, saved), ProjectLoad::Loaded);
        return saved;
    }

    BackupSetup setup;
};

TEST(CliUsageTest, HelpVersionAndUsageErrors) {
    TempHome home;
    const CliResult version = RunCli({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "tarnwick-backup-cli 7.00\n");
    const CliResult help = RunCli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_THAT(help.out, HasSubstr("run [--dry-run] [PROJECT | --project PROJECT]"));
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{}, {"backup"}, {"run", "a.tarn", "b.tarn"}, {"--version", "x"}}) {
        const CliResult result = RunCli(wrong);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_THAT(result.err,
                    HasSubstr("Usage: tarnwick-backup-cli run [--dry-run] [PROJECT | --project PROJECT]"));
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(CliTest, ProjectThatCannotBeLoadedIsAUsageError) {
    const CliResult missing = RunCli({"run", home.path() + "/nothing.tarn"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_THAT(missing.err, HasSubstr(home.path() + "/nothing.tarn"));

    WriteTestFile(home.path() + "/other.txt", "not a project\r\n");
    const CliResult notAProject = RunCli({"run", home.path() + "/other.txt"});
    EXPECT_EQ(notAProject.exitCode, 2);
    EXPECT_THAT(notAProject.err, HasSubstr(home.path() + "/other.txt"));
    EXPECT_FALSE(fs::exists(Root()));
}

TEST_F(CliTest, CleanRunExitsZeroPrintsTheSummaryAndSavesTheProject) {
    SetOptions("100000000000000");  // incremental: counts are reported
    const CliResult result = RunCli({"run", projectPath});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadTestFile(DataCopy() + "/a/b.txt"), "bee");
    EXPECT_EQ(ReadTestFile(Root() + "/notes.txt"), "notes");
    EXPECT_THAT(result.out,
                HasSubstr(texts.GetText(TextId::RunStarted) + "\n\n" + texts.GetText(TextId::ScannedPrefix) +
                          "2\n" + texts.GetText(TextId::CopiedPrefix) + "2\n"));
    EXPECT_THAT(result.out, HasSubstr(texts.GetText(TextId::RunEnded) + "\n"));
    EXPECT_THAT(result.out, Not(HasSubstr(texts.GetText(TextId::FailuresPrefix))));
    EXPECT_THAT(result.err, HasSubstr(texts.GetText(TextId::BackupRunning) + "\n"));

    const BackupSetup saved = SavedProject();
    EXPECT_EQ(saved.lastRun.size(), 16u);
    EXPECT_EQ(saved.minutesRemaining, 45);
    EXPECT_EQ(saved.entries, setup.entries);
}

TEST_F(CliTest, DefaultProjectComesFromTheSettings) {
    const std::string defaultProject = ProvisionDefaultProject(settings);
    WriteProject(defaultProject, setup);
    const CliResult result = RunCli({"run"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadTestFile(Root() + "/notes.txt"), "notes");
    BackupSetup saved;
    ASSERT_EQ(LoadProject(defaultProject, saved), ProjectLoad::Loaded);
    EXPECT_FALSE(saved.lastRun.empty());
}

TEST_F(CliTest, CopyErrorsExitOneAndAreNamedOnStderr) {
    SetOptions("100000000000000");
    WriteTestFile(DataCopy(), "a file where the folder copy must go");
    const CliResult result = RunCli({"run", projectPath});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err, HasSubstr(DataCopy()));
    EXPECT_THAT(result.out, HasSubstr(texts.GetText(TextId::FailuresPrefix)));
    EXPECT_EQ(ReadTestFile(Root() + "/notes.txt"), "notes");
}

TEST_F(CliTest, MissingTranslationIsReportedAndTheRunGoesOn) {
    settings.SetSetting("Product ID", "NoSuchProduct");
    const CliResult result = RunCli({"run", projectPath});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THAT(result.err, HasSubstr("NoSuchProducttrl.ini"));
    EXPECT_THAT(result.out, HasSubstr("---"));
    EXPECT_EQ(ReadTestFile(Root() + "/notes.txt"), "notes");
}

TEST_F(CliTest, RunHeldElsewhereExitsThreeWithoutTouchingAnything) {
    const RunLock other(settings.SettingsFolder());
    ASSERT_TRUE(other.Held());
    const CliResult result = RunCli({"run", projectPath});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_THAT(result.err, HasSubstr("run.lock"));
    EXPECT_FALSE(fs::exists(Root()));
    EXPECT_EQ(SavedProject().lastRun, "");
}

TEST_F(CliTest, SigtermStopsTheRunWhichStillEndsProperly) {
    // Enough files that the run is still busy when the signal arrives.
    for (int folder = 0; folder < 20; ++folder)
        for (int file = 0; file < 100; ++file)
            WriteTestFile(
                source.path() + "/Data/f" + std::to_string(folder) + "/" + std::to_string(file) + ".txt",
                std::string(2048, 'x'));
    SetOptions("100010000000000");  // incremental, log on
    setup.lastRun = "2024-03-06 20:15";
    WriteProject(projectPath, setup);
    CliProcess process({"run", projectPath});
    ASSERT_TRUE(process.WaitForStderrLine());
    process.Signal(SIGTERM);
    EXPECT_EQ(process.Finish(), 130) << process.Stderr();
    EXPECT_THAT(process.Stdout(), HasSubstr(texts.GetText(TextId::RunCancelled)));
    EXPECT_THAT(process.Stdout(), Not(HasSubstr(texts.GetText(TextId::RunEnded))));
    // Saved, but not as a completed backup.
    EXPECT_EQ(SavedProject().minutesRemaining, 45);
    EXPECT_EQ(SavedProject().lastRun, "2024-03-06 20:15");
    const std::string log = ReadTestFile(settings.SettingsFolder() + "/history.txt");
    EXPECT_THAT(log, HasSubstr(texts.GetText(TextId::RunCancelled) + "\r\n"));
    EXPECT_THAT(log, Not(HasSubstr(texts.GetText(TextId::RunEnded))));
    // Stopped well before the end: not every file was copied.
    std::size_t copies = 0;
    for (const auto& entry : fs::recursive_directory_iterator(Root())) copies += entry.is_regular_file();
    EXPECT_LT(copies, 2002u);
}
TEST_F(CliTest, BackupFolderOfTheWrongFormExitsTwoBeforeAnythingRuns) {
    SetOptions("000010000000000");  // log on
    const std::string parentFolder = target.path() + "/backup";
    for (const std::string& destination : {std::string(), parentFolder, std::string("relative-backup/...")}) {
        setup.destination = destination;
        WriteProject(projectPath, setup);
        const CliResult result = RunCli({"run", projectPath});
        EXPECT_EQ(result.exitCode, 2) << destination;
        EXPECT_EQ(result.out, "") << destination;
        // One line naming the project and what is wrong.
        EXPECT_EQ(result.err, "tarnwick-backup-cli: " + projectPath + ": " + DestinationProblem(destination) +
                                  "; nothing was done\n");
    }
    EXPECT_TRUE(fs::is_empty(target.path()));
    EXPECT_FALSE(fs::exists("relative-backup"));
    EXPECT_THAT(ReadTestFile(settings.SettingsFolder() + "/history.txt"),
                Not(HasSubstr(texts.GetText(TextId::RunStarted))));
    EXPECT_EQ(SavedProject().lastRun, "");
    EXPECT_EQ(SavedProject().minutesRemaining, 7);
}

TEST_F(CliTest, FtpDestinationIsNoLocalFolderAndStillBacksUp) {
    FtpTestServer server;
    setup.destination =
        FtpDestination("ftp://" + server.HostAndPort(), server.user(), server.password(), "up");
    WriteProject(projectPath, setup);
    const CliResult result = RunCli({"run", projectPath});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadTestFile(server.LoginFolder() + "/up/tarnwick_backup_folder/notes.txt"), "notes");
}
}  // namespace
