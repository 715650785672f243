#include "cli/CliProcess.h"
#include "faults/FaultScenario.h"
#include "support/SmallFileSystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

// kill -9 at random moments of real runs: whatever moment the run dies at,
// the project, settings and log stay whole, and the next run completes the
// backup without tripping over what the killed one left.

namespace {
using Clock = std::chrono::steady_clock;
using Mode = FaultScenario::Mode;

constexpr int kFileCount = 3000;
constexpr int kDefaultKills = 30;

int KillCount() {
    const char* wanted = std::getenv("TARNWICK_FAULT_KILLS");
    const int kills = wanted != nullptr ? std::atoi(wanted) : 0;
    return kills > 0 ? kills : kDefaultKills;
}

// TARNWICK_FAULT_SEED repeats a run that failed.
unsigned Seed() {
    const char* wanted = std::getenv("TARNWICK_FAULT_SEED");
    if (wanted != nullptr) return static_cast<unsigned>(std::strtoul(wanted, nullptr, 10));
    return std::random_device{}();
}

// Every run finds something to do: some files change, a few are new.
void ChangeSomeFiles(const std::string& root, std::vector<std::string>& files, std::mt19937& random,
                     int generation) {
    for (std::size_t i = 0; i < files.size() / 30; ++i)
        RewriteFile(root + "/" + files[random() % files.size()], random, generation);
    for (int i = 0; i < 5; ++i) {
        const std::string& neighbour = files[random() % files.size()];
        const std::string relative = neighbour.substr(0, neighbour.rfind('/') + 1) + "new " +
                                     std::to_string(generation) + "-" + std::to_string(i) + ".dat";
        RewriteFile(root + "/" + relative, random, generation);
        files.push_back(relative);
    }
}

class KillDuringRunTest : public ::testing::Test {
protected:
    KillDuringRunTest()
        // Many small files are created and copied over and over: a private
        // tmpfs keeps that fast and off the shared disk when it can be had.
        : fileSystem(64u << 20),
          workspace(fileSystem.Mounted() ? fileSystem.path() : fallback.path()),
          source(workspace + "/source"),
          scenario(workspace) {}

    // The time an unkilled run of the mode takes here, so kills land inside runs.
    Clock::duration MeasureRun(Mode mode, int generation) {
        ChangeSomeFiles(source + "/Data", files, random, generation);
        scenario.SetMode(mode);
        const Clock::time_point start = Clock::now();
        const CliResult result = scenario.Run();
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return Clock::now() - start;
    }

    void ExpectEverythingWhole(const std::string& when) {
        EXPECT_EQ(scenario.WhyProjectNotWhole(), "") << when;
        EXPECT_EQ(scenario.WhySettingsNotWhole(), "") << when;
        EXPECT_EQ(scenario.WhyLogNotWhole(), "") << when;
    }

    void ExpectBackupEqualsSource(const std::string& when) {
        const std::vector<std::string> differences =
            TreeDifferences(source + "/Data", scenario.FolderCopy(source + "/Data"));
        EXPECT_TRUE(differences.empty()) << when << ":\n  " << JoinForMessage(differences);
        EXPECT_EQ(ReadTestFile(scenario.BackupRoot() + "/notes.txt"), "notes") << when;
    }

    TempFolder fallback;
    SmallFileSystem fileSystem;
    std::string workspace;
    std::string source;
    FaultScenario scenario;
    std::mt19937 random;
    std::vector<std::string> files;
};

TEST_F(KillDuringRunTest, KilledFullAndIncrementalRunsLoseNothingAndTheNextRunCompletesTheBackup) {
    const unsigned seed = Seed();
    std::cout << "kill test seed " << seed << " (TARNWICK_FAULT_SEED repeats it)" << std::endl;
    SCOPED_TRACE("seed " + std::to_string(seed));
    random.seed(seed);
    files = MakeSmallFileTree(source + "/Data", kFileCount, random);
    WriteTestFile(source + "/notes.txt", "notes");
    scenario.SetEntries({source + "/Data/...", source + "/notes.txt"});

    const Clock::duration fullRun = MeasureRun(Mode::Full, 0);
    const Clock::duration incrementalRun = MeasureRun(Mode::Incremental, 1);

    const int kills = KillCount();
    int killedMidRun = 0;
    for (int kill = 0; kill < kills; ++kill) {
        const Mode mode = kill % 2 == 0 ? Mode::Full : Mode::Incremental;
        ChangeSomeFiles(source + "/Data", files, random, kill + 2);
        scenario.SetMode(mode);
        const auto window = std::chrono::duration_cast<std::chrono::microseconds>(
            mode == Mode::Full ? fullRun : incrementalRun);
        const auto delay = std::chrono::microseconds(random() % (window.count() + 1));

        CliProcess process(scenario.RunArguments());
        std::this_thread::sleep_for(delay);
        process.Signal(SIGKILL);
        const int exitCode = process.Finish();
        const std::string when = "kill " + std::to_string(kill) + " after " + std::to_string(delay.count()) +
                                 " us of a " + (mode == Mode::Full ? "full" : "incremental") + " run";
        if (exitCode == 128 + SIGKILL)
            ++killedMidRun;
        else
            EXPECT_EQ(exitCode, 0) << when << ": a run that ended before the kill\n" << process.Stderr();
        ExpectEverythingWhole(when);
        if (HasFatalFailure() || HasFailure()) break;
    }
    std::cout << killedMidRun << " of " << kills << " kills landed inside a run" << std::endl;
    // Kills that all came after the run ended would prove nothing.
    EXPECT_GE(killedMidRun, kills / 2);

    // An incremental run must repair whatever the kills left half done.
    scenario.SetMode(Mode::Incremental);
    const CliResult incremental = scenario.Run();
    EXPECT_EQ(incremental.exitCode, 0) << incremental.err;
    ExpectEverythingWhole("after the last incremental run");
    ExpectBackupEqualsSource("after the last incremental run");

    scenario.SetMode(Mode::Full);
    const CliResult full = scenario.Run();
    EXPECT_EQ(full.exitCode, 0) << full.err;
    ExpectEverythingWhole("after the last full run");
    ExpectBackupEqualsSource("after the last full run");
    // A full run writes into every folder of the backup, and every run saves
    // the project: none of the killed runs' temporary files may outlive them.
    for (const auto& [folder, recursive] : {std::pair{scenario.BackupRoot(), true},
                                            {scenario.home.path(), false},
                                            {scenario.SettingsFolder(), false}}) {
        const std::vector<std::string> left = ProgramTemporaries(folder, recursive);
        EXPECT_TRUE(left.empty()) << "temporary files of killed runs left behind:\n  "
                                  << JoinForMessage(left);
    }
}

// A run that dies inside a file must leave nothing under the file's own name
// but a whole copy: an incremental run takes a copy whose time falls in the
// source's minute as current, so a cut-off copy of a file changed this minute
// would stay in the backup unnoticed. The kill comes the moment the first copy
// appears, in a folder the full run has just created.
TEST(KillDuringCopyTest, KilledFullRunLeavesNoCutOffCopyUnderTheRealName) {
    SmallFileSystem disk(512u << 20);
    if (!disk.Mounted()) GTEST_SKIP() << disk.WhyNotMounted();
    const std::string data = disk.path() + "/source/Data";
    std::string content(128u << 20, '\0');
    for (std::size_t i = 0; i < content.size(); i += 4096) content[i] = static_cast<char>(i >> 12);
    WriteTestFile(data + "/changed-this-minute.bin", content);
    FaultScenario scenario(disk.path());
    scenario.SetEntries({data + "/..."});
    scenario.SetMode(Mode::Full);
    const std::string copy = scenario.FolderCopy(data) + "/changed-this-minute.bin";

    {
        CliProcess process(scenario.RunArguments());
        WaitUntilFolderHoldsAnything(scenario.FolderCopy(data));
        process.Signal(SIGKILL);
        process.Finish();
    }
    if (std::filesystem::exists(copy)) {
        EXPECT_EQ(std::filesystem::file_size(copy), content.size()) << "a cut-off copy under the real name";
    }

    scenario.SetMode(Mode::Incremental);
    const CliResult next = scenario.Run();
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_TRUE(ReadTestFile(copy) == content)
        << "the backup holds " << std::filesystem::file_size(copy) << " of " << content.size() << " bytes";
}
}  // namespace
