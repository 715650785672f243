#include "faults/FaultScenario.h"
#include "support/SmallFileSystem.h"
#include "support/Unprivileged.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sstream>

// The real CLI against a destination that fills up and against sources that
// are missing, unreadable or not files at all: each problem is reported and
// counted, everything else is still backed up, and no good copy is lost.

namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Mode = FaultScenario::Mode;

std::string ModeName(const ::testing::TestParamInfo<Mode>& info) {
    return info.param == Mode::Full ? "Full" : "Incremental";
}

// Lines of the last run's log that claim a copy of something named `name`.
std::vector<std::string> CopiedLinesNaming(const FaultScenario& scenario, const std::string& name) {
    std::vector<std::string> found;
    std::istringstream log(scenario.LastRunLog());
    for (std::string line; std::getline(log, line);) {
        const bool claimsCopy = line.starts_with(scenario.Text(TextId::LogCopiedFile)) ||
                                line.starts_with(scenario.Text(TextId::LogCopiedFolder));
        if (claimsCopy && line.find(name) != std::string::npos) found.push_back(line);
    }
    return found;
}

// A run with failures: exit 1, the "Failures:" count, the failures in the log.
void ExpectFailedRun(const FaultScenario& scenario, const CliResult& result) {
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_THAT(result.out, HasSubstr(scenario.Text(TextId::FailuresPrefix)));
    EXPECT_THAT(scenario.LastRunLog(), HasSubstr(scenario.Text(TextId::LogFailure)));
}

// The problem is named on stderr and nothing claims it was copied.
void ExpectReportedNotCopied(const FaultScenario& scenario, const CliResult& result,
                             const std::string& problem) {
    EXPECT_THAT(result.err, HasSubstr(problem));
    const std::string name = fs::path(problem).filename().string();
    EXPECT_THAT(CopiedLinesNaming(scenario, name), ::testing::IsEmpty())
        << "the log claims a copy of " << name;
}

void ExpectReportedFailure(const FaultScenario& scenario, const CliResult& result,
                           const std::string& problem) {
    ExpectFailedRun(scenario, result);
    ExpectReportedNotCopied(scenario, result, problem);
}

class FullDestinationTest : public ::testing::TestWithParam<Mode> {
protected:
    FullDestinationTest() : backupDisk(4u << 20), scenario(backupDisk.path()) {}

    SmallFileSystem backupDisk;
    TempFolder source;
    FaultScenario scenario;
};

TEST_P(FullDestinationTest, FailsWithExitOneAndKeepsTheLastGoodCopy) {
    if (!backupDisk.Mounted()) GTEST_SKIP() << backupDisk.WhyNotMounted();
    const std::string big = source.path() + "/Data/big.bin";
    const std::string small = source.path() + "/Data/small.txt";
    const std::string single = source.path() + "/single.bin";
    const std::string oldBig(64 << 10, 'o');
    WriteTestFile(big, oldBig);
    WriteTestFile(small, "old small");
    WriteTestFile(single, oldBig);
    for (const std::string& file : {big, small, single}) SetModificationSeconds(file, 1'600'000'000);
    scenario.SetEntries({source.path() + "/Data/...", single});
    scenario.SetMode(GetParam());
    const CliResult first = scenario.Run();
    ASSERT_EQ(first.exitCode, 0) << first.err;

    // Both large files now need more than the whole disk has left.
    const std::size_t grown = 6u << 20;
    ASSERT_LT(backupDisk.FreeBytes(), grown);
    WriteTestFile(big, std::string(grown, 'n'));
    WriteTestFile(single, std::string(grown, 'n'));
    WriteTestFile(small, "new small");
    for (const std::string& file : {big, small, single}) SetModificationSeconds(file, 1'700'000'000);

    const CliResult second = scenario.Run();
    ExpectFailedRun(scenario, second);
    ExpectReportedNotCopied(scenario, second, "big.bin");
    ExpectReportedNotCopied(scenario, second, "single.bin");
    EXPECT_THAT(second.err, HasSubstr(std::strerror(ENOSPC)));
    const std::string dataCopy = scenario.FolderCopy(source.path() + "/Data");
    EXPECT_EQ(ReadTestFile(dataCopy + "/big.bin"), oldBig);
    EXPECT_EQ(ReadTestFile(scenario.BackupRoot() + "/single.bin"), oldBig);
    EXPECT_EQ(ReadTestFile(dataCopy + "/small.txt"), "new small");
    const std::vector<std::string> left = ProgramTemporaries(scenario.BackupRoot(), true);
    EXPECT_TRUE(left.empty()) << JoinForMessage(left);
}

INSTANTIATE_TEST_SUITE_P(BothModes, FullDestinationTest, ::testing::Values(Mode::Full, Mode::Incremental),
                         ModeName);

// Source problems: the scenario's tree holds a good folder entry and a good
// file entry beside the problem, and both must still be copied.
class SourceProblemTest : public ::testing::TestWithParam<Mode> {
protected:
    SourceProblemTest() : scenario(target.path()) {
        WriteTestFile(source.path() + "/Data/good.txt", "good");
        WriteTestFile(source.path() + "/Data/deeper/also.txt", "also");
        WriteTestFile(source.path() + "/notes.txt", "notes");
        scenario.SetMode(GetParam());
    }

    void UseEntriesWith(const std::string& problemEntry) {
        scenario.SetEntries({source.path() + "/Data/...", problemEntry, source.path() + "/notes.txt"});
    }

    void ExpectTheRestCopied() {
        const std::string dataCopy = scenario.FolderCopy(source.path() + "/Data");
        EXPECT_EQ(ReadTestFile(dataCopy + "/good.txt"), "good");
        EXPECT_EQ(ReadTestFile(dataCopy + "/deeper/also.txt"), "also");
        EXPECT_EQ(ReadTestFile(scenario.BackupRoot() + "/notes.txt"), "notes");
    }

    TempFolder source;
    TempFolder target;
    FaultScenario scenario;
};

TEST_P(SourceProblemTest, MissingFileEntryIsAFailure) {
    const std::string missing = source.path() + "/renamed-away.txt";
    UseEntriesWith(missing);
    const CliResult result = scenario.Run();
    ExpectReportedFailure(scenario, result, missing);
    ExpectTheRestCopied();
}

TEST_P(SourceProblemTest, MissingFolderEntryIsAFailure) {
    const std::string missing = source.path() + "/Deleted Folder";
    UseEntriesWith(missing + "/...");
    const CliResult result = scenario.Run();
    ExpectReportedFailure(scenario, result, missing);
    ExpectTheRestCopied();
}

TEST_P(SourceProblemTest, DanglingLinkEntryIsAFailure) {
    const std::string link = source.path() + "/dangling.txt";
    fs::create_symlink(source.path() + "/nowhere.txt", link);
    UseEntriesWith(link);
    const CliResult result = scenario.Run();
    ExpectReportedFailure(scenario, result, link);
    ExpectTheRestCopied();
}

TEST_P(SourceProblemTest, FifoInsideAFolderIsReportedAndDoesNotBlock) {
    const std::string fifo = source.path() + "/Data/deeper/a-pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    scenario.SetEntries({source.path() + "/Data/...", source.path() + "/notes.txt"});
    const CliResult result = scenario.Run();
    ExpectReportedFailure(scenario, result, fifo);
    ExpectTheRestCopied();
}

// Root reads everything, so the run is made by an ordinary account that owns
// the files but may not read the one file and the one folder closed to it.
TEST_P(SourceProblemTest, UnreadableFileAndFolderAreFailuresForAnOrdinaryUser) {
    if (!CanDropPrivileges()) GTEST_SKIP() << "needs root to run the CLI as another account";
    const std::string closedFile = source.path() + "/Data/closed.txt";
    const std::string closedFolder = source.path() + "/Data/Closed Folder";
    WriteTestFile(closedFile, "private");
    WriteTestFile(closedFolder + "/inside.txt", "private");
    scenario.SetEntries({source.path() + "/Data/...", source.path() + "/notes.txt"});
    for (const std::string& tree : {scenario.home.path(), source.path(), target.path()})
        GiveTreeTo(tree, NobodyAccount());
    ::chmod(closedFile.c_str(), 0000);
    ::chmod(closedFolder.c_str(), 0000);

    const std::string errPath = scenario.home.path() + "/cli-stderr.txt";
    const std::string outPath = scenario.home.path() + "/cli-stdout.txt";
    const int exitCode = RunAsUnprivileged([&] {
        const CliResult result = scenario.Run();
        WriteTestFile(errPath, result.err);
        WriteTestFile(outPath, result.out);
        return result.exitCode;
    });
    ::chmod(closedFolder.c_str(), 0755);  // so the folder can be removed
    const CliResult result{exitCode, ReadTestFile(outPath), ReadTestFile(errPath)};
    ExpectReportedFailure(scenario, result, closedFile);
    EXPECT_THAT(result.err, HasSubstr(closedFolder));
    ExpectTheRestCopied();
    EXPECT_FALSE(fs::exists(scenario.FolderCopy(source.path() + "/Data") + "/Closed Folder/inside.txt"));
}

// An incremental run lists a folder before it copies the files found: a file
// deleted in between must be reported (as a failure or a line of its own),
// never claimed as copied, and the run goes on. The run is held still with
// SIGSTOP the moment its first copy appears, whatever order it copies in; the
// files are large enough that the moment cannot be missed. Then every file
// whose copy has not begun is deleted (a copy gets its name only when whole,
// so a file the run holds open has begun too: its copy reads on from the open
// file and rightly arrives).
TEST(VanishingSourceTest, FilesDeletedAfterTheListingAreReportedAndTheRunGoesOn) {
    SmallFileSystem disk(512u << 20);
    if (!disk.Mounted()) GTEST_SKIP() << disk.WhyNotMounted();
    const std::string data = disk.path() + "/source/Data";
    const std::size_t fileSize = 16u << 20;
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) {
        names.push_back("file-" + std::to_string(i) + ".bin");
        WriteTestFile(data + "/" + names.back(), std::string(fileSize, static_cast<char>('a' + i)));
    }
    FaultScenario scenario(disk.path());
    scenario.SetEntries({data + "/..."});
    scenario.SetMode(Mode::Incremental);
    const std::string dataCopy = scenario.FolderCopy(data);

    CliProcess process(scenario.RunArguments());
    WaitUntilFolderHoldsAnything(dataCopy);
    process.Signal(SIGSTOP);
    const std::vector<std::string> open = process.OpenFiles();
    const auto begun = [&](const std::string& name) {
        return HoldsCopyOf(dataCopy, name) ||
               std::find(open.begin(), open.end(), data + "/" + name) != open.end();
    };
    std::vector<std::string> deleted, kept;
    for (const std::string& name : names) {
        if (begun(name)) {
            kept.push_back(name);
        } else {
            fs::remove(data + "/" + name);
            deleted.push_back(data + "/" + name);
        }
    }
    process.Signal(SIGCONT);
    const int exitCode = process.Finish();
    ASSERT_FALSE(deleted.empty()) << "the run copied every file before it could be stopped";

    EXPECT_TRUE(exitCode == 0 || exitCode == 1) << exitCode << process.Stderr();
    for (const std::string& name : kept)
        EXPECT_EQ(ReadTestFile(dataCopy + "/" + name), ReadTestFile(data + "/" + name)) << name;
    const std::string reports = process.Stderr() + scenario.LastRunLog();
    std::vector<std::string> unreported, claimedCopied;
    for (const std::string& gone : deleted) {
        if (reports.find(gone) == std::string::npos) unreported.push_back(gone);
        const std::string name = fs::path(gone).filename().string();
        if (HoldsCopyOf(dataCopy, name) || !CopiedLinesNaming(scenario, name).empty())
            claimedCopied.push_back(gone);
    }
    EXPECT_TRUE(unreported.empty()) << "deleted files not reported:\n  " << JoinForMessage(unreported)
                                    << "\nstderr and log:\n"
                                    << reports;
    EXPECT_TRUE(claimedCopied.empty()) << JoinForMessage(claimedCopied);
}

INSTANTIATE_TEST_SUITE_P(BothModes, SourceProblemTest, ::testing::Values(Mode::Full, Mode::Incremental),
                         ModeName);
}  // namespace
