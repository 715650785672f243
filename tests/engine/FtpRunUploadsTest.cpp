// Runs to a real FTP server over several connections at once: what arrives,
// what is counted and what is logged are those of a run over one connection.

#include "EngineFixture.h"
#include "engine/BackupLayout.h"
#include "sources/Entries.h"
#include "support/FtpTestServer.h"

#include <gmock/gmock.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

class FtpRunUploadsTest : public EngineFixture {
protected:
    FtpRunUploadsTest() {
        // Four folders of ten files, one of them two levels down, and a file entry.
        for (int folder = 0; folder < 4; ++folder) {
            const std::string path =
                source.path() + "/Tree/" + (folder == 3 ? "deep/er" : "part" + std::to_string(folder));
            for (int file = 0; file < 10; ++file)
                WriteTestFile(path + "/file" + std::to_string(folder) + std::to_string(file) + ".txt",
                              std::string(static_cast<std::size_t>(folder * 10 + file + 1), 'x'));
        }
        treeEntry = source.path() + "/Tree/...";
        WriteTestFile(source.path() + "/single.txt", "single");
        setup.entries = {treeEntry, source.path() + "/single.txt"};
        setup.destination =
            FtpDestination("ftp://" + server.HostAndPort(), server.user(), server.password(), "upload");
        base = server.LoginFolder() + "/upload/tarnwick_backup_folder";
    }

    void UseConnections(int count) { home.SetEnv("TARNWICK_REMOTE_CONNECTIONS", std::to_string(count)); }

    // Every file below the remote base with its contents.
    std::map<std::string, std::string> RemoteTree() const {
        std::map<std::string, std::string> tree;
        if (!fs::exists(base)) return tree;
        for (const auto& item : fs::recursive_directory_iterator(base))
            if (item.is_regular_file())
                tree[fs::relative(item.path(), base).string()] = ReadTestFile(item.path().string());
        return tree;
    }

    // The log's lines in sorted order: the uploads may finish in any order.
    std::vector<std::string> SortedLogLines() const {
        std::vector<std::string> lines;
        std::istringstream text(ReadTestFile(LogPath()));
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    std::string PathOfFile(int folder, int file) const {
        return source.path() + "/Tree/" + (folder == 3 ? "deep/er" : "part" + std::to_string(folder)) +
               "/file" + std::to_string(folder) + std::to_string(file) + ".txt";
    }

    FtpTestServer server;
    std::string treeEntry;
    std::string base;
};

struct RunRecord {
    std::map<std::string, std::string> tree;
    std::int32_t scanned = 0;
    std::int32_t copied = 0;
    std::uint64_t bytes = 0;
    std::vector<std::string> failures;
    std::vector<std::string> logLines;
};

TEST_F(FtpRunUploadsTest, FourConnectionsGiveTheTreeCountsAndLogLinesOfOne) {
    // A link inside the folder gives a log line of its own.
    ASSERT_EQ(symlink(PathOfFile(0, 0).c_str(), (source.path() + "/Tree/part1/link.txt").c_str()), 0);
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode == 0 ? "full" : "incremental");
        setup.backupMode = mode;
        std::map<int, RunRecord> records;
        for (int connections : {1, 4}) {
            fs::remove_all(server.LoginFolder() + "/upload");
            UseConnections(connections);
            StartLog();
            const int loginsBefore = server.LoginCount();
            ASSERT_EQ(Run(), RunOutcome::Finished);
            // One login for each connection of the run.
            EXPECT_EQ(server.LoginCount() - loginsBefore, connections);
            records[connections] = {RemoteTree(),  run.scannedCount, run.copiedCount,
                                    run.byteTotal, run.failures,     SortedLogLines()};
        }
        const RunRecord& one = records[1];
        const RunRecord& four = records[4];
        EXPECT_EQ(one.tree.size(), 41u);
        EXPECT_EQ(one.copied, 41);
        EXPECT_THAT(one.failures, IsEmpty());
        EXPECT_EQ(four.tree, one.tree);
        EXPECT_EQ(four.scanned, one.scanned);
        EXPECT_EQ(four.copied, one.copied);
        EXPECT_EQ(four.bytes, one.bytes);
        EXPECT_EQ(four.failures, one.failures);
        EXPECT_EQ(four.logLines, one.logLines);
    }
}

TEST_F(FtpRunUploadsTest, AServerTakingTwoConnectionsStillGetsEveryFileOverTheTwo) {
    server.LimitConnections(2);
    UseConnections(4);
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode == 0 ? "full" : "incremental");
        fs::remove_all(server.LoginFolder() + "/upload");
        setup.backupMode = mode;
        const int loginsBefore = server.LoginCount();
        const int refusedBefore = server.RefusedConnections();
        ASSERT_EQ(Run(), RunOutcome::Finished);
        EXPECT_THAT(run.failures, IsEmpty());
        EXPECT_EQ(run.copiedCount, 41);
        EXPECT_EQ(RemoteTree().size(), 41u);
        EXPECT_EQ(ReadTestFile(base + "/single.txt"), "single");
        // The two connections the server turned away were given up quietly.
        EXPECT_EQ(server.LoginCount() - loginsBefore, 2);
        EXPECT_EQ(server.RefusedConnections() - refusedBefore, 2);
    }
}

TEST_F(FtpRunUploadsTest, AFileTheServerRefusesAmongManyIsReportedOnceInFailuresAndLog) {
    UseConnections(4);
    server.RefuseWithQuotaExceeded("file17.txt");
    StartLog();
    ASSERT_EQ(Run(), RunOutcome::Finished);
    ASSERT_EQ(run.failures.size(), 1u);
    EXPECT_THAT(run.failures[0], HasSubstr(PathOfFile(1, 7) + ": upload to "));
    EXPECT_THAT(run.failures[0], HasSubstr("552 Quota exceeded."));
    EXPECT_EQ(run.copiedCount, 40);
    EXPECT_EQ(RemoteTree().size(), 40u);
    const std::vector<std::string> lines = SortedLogLines();
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& line) { return line.find("file17.txt") != std::string::npos; }),
        1);
}

// The server takes each file's data and never confirms it, so every
// connection hangs in a transfer; a stop request must end those transfers,
// not wait out their time-out (which would report each one as failed).
TEST_F(FtpRunUploadsTest, AStopRequestAbandonsTheTransfersInProgress) {
    home.SetEnv("TARNWICK_FTP_TIMEOUT_SECONDS", "60");
    UseConnections(4);
    server.FallSilentAfterEachUpload();
    window.onPump = [&] {
        if (!server.StoredPaths().empty()) run.cancelRequested = true;
    };
    EXPECT_EQ(Run(), RunOutcome::Cancelled);
    EXPECT_THAT(run.failures, IsEmpty());
    EXPECT_EQ(run.copiedCount, 0);
    EXPECT_LE(server.StoredPaths().size(), 4u);
    // Nothing arrived under a final name.
    for (const auto& [path, content] : RemoteTree()) EXPECT_TRUE(path.ends_with(".tarnwick-part")) << path;
}

// With several connections the files in flight when the second time-out
// comes still end (each reported); the ones not yet started are not tried.
TEST_F(FtpRunUploadsTest, AServerThatStopsAnsweringIsGivenUpOverSeveralConnections) {
    home.SetEnv("TARNWICK_FTP_TIMEOUT_SECONDS", "1");
    UseConnections(4);
    server.FallSilentAfterEachUpload();
    ASSERT_EQ(Run(), RunOutcome::Finished);
    ASSERT_GE(run.failures.size(), 3u);
    const std::size_t timedOut = run.failures.size() - 1;
    for (std::size_t i = 0; i < timedOut; ++i) EXPECT_THAT(run.failures[i], HasSubstr("Timeout"));
    EXPECT_THAT(run.failures.back(), HasSubstr(std::to_string(41 - timedOut) +
                                               " files not uploaded: the FTP server stopped answering"));
    EXPECT_EQ(server.StoredPaths().size(), timedOut);
    EXPECT_EQ(run.copiedCount, 0);
}

}  // namespace
