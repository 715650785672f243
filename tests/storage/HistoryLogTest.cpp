#include "storage/HistoryLog.h"

#include "support/TempHome.h"
#include "support/Unprivileged.h"
#include "util/FileError.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <filesystem>
#include <functional>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::string kHeaderBytes = "Tarnwick Backup History File\r\n=============================\r\n\r\n\r\n";
const std::string kSeparator = "\n\n\n-------------------\n";

// The log's defining algorithm, written out step by step: read every line in
// text mode (CR LF read as LF), add the text as one more element, write every
// element followed by a line end in text mode (LF written as CR LF).
std::string AppendByRewriting(const std::string& oldBytes, const std::string& text) {
    std::string readText;
    for (std::size_t i = 0; i < oldBytes.size(); ++i)
        if (!(oldBytes[i] == '\r' && i + 1 < oldBytes.size() && oldBytes[i + 1] == '\n'))
            readText += oldBytes[i];
    std::vector<std::string> lines;
    std::istringstream stream(readText);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    lines.push_back(text);
    std::string written;
    for (const std::string& element : lines) written += element + "\n";
    std::string bytes;
    for (char c : written) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    return bytes;
}

ino_t InodeOf(const std::string& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_ino;
}

class HistoryLogTest : public ::testing::Test {
protected:
    std::string LogPath() const { return HistoryLogPath(home.SettingsFolder(), "/unused"); }
    void SetUp() override { fs::create_directories(home.SettingsFolder()); }

    TempHome home;
};

TEST(HistoryLogPath, EmptyFolderMeansTheProgramFolder) {
    EXPECT_EQ(HistoryLogPath("/home/ann/.config/x", "/opt/prog"), "/home/ann/.config/x/history.txt");
    EXPECT_EQ(HistoryLogPath("", "/opt/prog"), "/opt/prog/history.txt");
}

TEST_F(HistoryLogTest, HeaderIsTitleRuleAndTwoEmptyLines) {
    WriteTestFile(LogPath(), "old runs\r\n");
    WriteHistoryHeader(LogPath());
    EXPECT_EQ(ReadTestFile(LogPath()), kHeaderBytes);
}

TEST_F(HistoryLogTest, OneLineAfterTheHeader) {
    WriteHistoryHeader(LogPath());
    AppendToHistory(LogPath(), "2024-03-07 09:05 Backup started");
    EXPECT_EQ(ReadTestFile(LogPath()), kHeaderBytes + "2024-03-07 09:05 Backup started\r\n");
}

TEST_F(HistoryLogTest, SeparatorInAnEmptyFile) {
    WriteTestFile(LogPath(), "");
    AppendToHistory(LogPath(), kSeparator);
    EXPECT_EQ(ReadTestFile(LogPath()), "\r\n\r\n\r\n-------------------\r\n\r\n");
}

TEST_F(HistoryLogTest, MissingLogIsCreatedWithItsHeader) {
    AppendToHistory(LogPath(), "first");
    EXPECT_EQ(ReadTestFile(LogPath()), kHeaderBytes + "first\r\n");
}

TEST_F(HistoryLogTest, LogThatIsAFolderIsAFileErrorNamingIt) {
    fs::create_directory(LogPath());
    try {
        AppendToHistory(LogPath(), "x");
        FAIL() << "appending to a folder should fail";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), LogPath());
    }
}

TEST_F(HistoryLogTest, AppendsGiveTheSameBytesAsRewritingTheWholeLog) {
    const std::vector<std::string> texts = {kSeparator,
                                            "2024-03-07 09:05 started",
                                            "",
                                            "ends in a line break\n",
                                            "two\nlines",
                                            "\n",
                                            "Copied: /home/ann/caf\xC3\xA9 \x80\xFF.txt",
                                            "cr lf inside\r\nit",
                                            "lone\rcr",
                                            "\n\n"};
    const std::vector<std::string> startingLogs = {"",
                                                   kHeaderBytes,
                                                   "unfinished last line",
                                                   "ends in a bare line feed\n",
                                                   "mixed\nline\r\nends\r\n",
                                                   "ends in cr\r",
                                                   "\r\n"};
    for (const std::string& start : startingLogs) {
        SCOPED_TRACE(start);
        WriteTestFile(LogPath(), start);
        std::string expected = start;
        for (const std::string& text : texts) {
            SCOPED_TRACE(text);
            AppendToHistory(LogPath(), text);
            expected = AppendByRewriting(expected, text);
            if (start.find("mixed") == std::string::npos) {
                ASSERT_EQ(ReadTestFile(LogPath()), expected);
            }
        }
        // A bare LF inside a log that ends in CR LF stays as it is; the
        // appended lines are the same.
        if (start.find("mixed") != std::string::npos) {
            EXPECT_EQ(ReadTestFile(LogPath()),
                      start + expected.substr(AppendByRewriting(start, "").size() - 2));
        }
    }
}

TEST_F(HistoryLogTest, LogEndingInCrLfIsAppendedInPlace) {
    WriteHistoryHeader(LogPath());
    const ino_t before = InodeOf(LogPath());
    AppendToHistory(LogPath(), "in place");
    EXPECT_EQ(InodeOf(LogPath()), before);
    // An unfinished last line is completed by one rewrite.
    WriteTestFile(LogPath(), "unfinished");
    AppendToHistory(LogPath(), "a");
    EXPECT_EQ(ReadTestFile(LogPath()), "unfinished\r\na\r\n");
}

}  // namespace

namespace {
// "Empty log file" and an append as nobody on a 0444 log in a folder nobody owns:
// both refused alike, the log kept.
TEST(WriteProtectedHistoryLog, EmptyingIsRefusedLikeAnAppend) {
    if (!CanDropPrivileges()) GTEST_SKIP() << "needs root to switch accounts";
    TempFolder folder;
    ::chmod(folder.path().c_str(), 0755);
    const std::string log = HistoryLogPath(folder.path(), "/unused");
    const std::string old = kHeaderBytes + "a run\r\n";
    WriteTestFile(log, old);
    GiveTreeTo(folder.path(), NobodyAccount());
    ::chmod(log.c_str(), 0444);
    const int result = RunAsUnprivileged([&] {
        int refused = 0;
        for (const auto& write : {std::function<void()>([&] { WriteHistoryHeader(log); }),
                                  std::function<void()>([&] { AppendToHistory(log, "more"); })}) {
            try {
                write();
            } catch (const FileError& error) {
                if (error.path() == log) ++refused;
            }
        }
        return refused == 2 ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadTestFile(log), old);
}
}  // namespace
