#include "CliProcess.h"
#include "CliTestHome.h"
#include "storage/ProjectFile.h"
#include "util/SafeFormat.h"
#include "util/ShortenedPath.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <sstream>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {
// The CLI with a pseudo-terminal of `columns` columns as its standard input,
// output and error; returns all it wrote there and its exit code.
std::pair<std::string, int> RunCliOnTerminal(const std::vector<std::string>& arguments,
                                             unsigned short columns) {
    const std::string program = BinFolder() + "/tarnwick-backup-cli";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = columns;
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (child == 0) {
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    std::string output;
    if (child < 0) return {output, -1};
    char buffer[4096];
    for (;;) {
        pollfd ready{terminal, POLLIN, 0};
        if (::poll(&ready, 1, 60'000) <= 0) break;
        const ssize_t got = ::read(terminal, buffer, sizeof buffer);
        if (got > 0)
            output.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            break;  // EIO once the child has gone
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(child, &status, 0);
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

class CliProgressTest : public ::testing::Test, public CliTestHome {
protected:
    CliProgressTest() {
        WriteTestFile(source.path() + "/Data/a/b.txt", "bee");
        WriteTestFile(source.path() + "/Data/c.txt", "sea!");
        WriteTestFile(source.path() + "/notes.txt", "notes");
        BackupSetup setup;
        setup.destination = target.path() + "/backup/...";
        // The missing entry comes last, so its error arrives while the live line stands.
        setup.entries = {source.path() + "/Data/...", source.path() + "/notes.txt",
                         source.path() + "/gone.txt"};
        setup.interval = 45;
        WriteProject(projectPath, setup);
        settings.SetSetting("Options", "000000000000000");
    }

    std::string Figures(TextId id, const std::string& numbers) const {
        return FormatText(texts.GetText(id), numbers);
    }
};

TEST_F(CliProgressTest, OnATerminalOneLineIsRewrittenWithTheProgressAndErrorsGoAboveIt) {
    const auto [output, exitCode] = RunCliOnTerminal({"run", projectPath}, 100);
    EXPECT_EQ(exitCode, 1) << output;  // the missing entry
    EXPECT_EQ(ReadTestFile(target.path() + "/backup/notes.txt"), "notes");
    // The last drawing of the line: every file and byte of the totals.
    EXPECT_THAT(output, HasSubstr("100%  " + Figures(TextId::ProgressFiles, "3 / 3") + "  " +
                                  Figures(TextId::ProgressData, "12 Bytes / 12 Bytes") + "  " +
                                  Figures(TextId::ProgressTimeLeft, "0:00")));
    EXPECT_THAT(output, HasSubstr(FormatText(texts.GetText(TextId::ProgressCounting), 0)));
    // The error is a line of its own above the live line, which is drawn again.
    EXPECT_THAT(output, HasSubstr("\r\x1b[Kerror: " + source.path() + "/gone.txt"));
    // No drawing of the line is wider than the terminal (the last column stays free).
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream drawings(line);
        for (std::string drawing; std::getline(drawings, drawing, '\r');) {
            const std::size_t end = drawing.find("\x1b[K");
            EXPECT_LT(CharacterCount(drawing.substr(0, end)), 100u) << drawing;
        }
    }
    // The last drawing stays; the summary follows on a line of its own.
    const std::size_t last = output.rfind("100%");
    const std::size_t summary = output.find(texts.GetText(TextId::RunStarted), last);
    ASSERT_NE(summary, std::string::npos);
    EXPECT_NE(output.substr(last, summary - last).find('\n'), std::string::npos);
}

TEST_F(CliProgressTest, NarrowTerminalShortensTheFileAndElsewherePlainStatusLinesStay) {
    WriteTestFile(source.path() + "/Data/" + std::string(120, 'n') + ".txt", "long name");
    const auto [narrow, narrowExit] = RunCliOnTerminal({"run", projectPath}, 40);
    EXPECT_EQ(narrowExit, 1);
    std::istringstream drawings(narrow);
    for (std::string drawing; std::getline(drawings, drawing, '\r');)
        EXPECT_LT(CharacterCount(drawing.substr(0, drawing.find("\x1b[K"))), 40u) << drawing;

    // Standard error on a pipe: status lines one under another, no live line.
    const CliResult piped = RunCli({"run", projectPath});
    EXPECT_EQ(piped.exitCode, 1);
    EXPECT_THAT(piped.err, HasSubstr(texts.GetText(TextId::BackupRunning) + "\n"));
    EXPECT_THAT(piped.err, HasSubstr("error: " + source.path() + "/gone.txt"));
    EXPECT_THAT(piped.err, Not(HasSubstr("\r")));
    EXPECT_THAT(piped.err, Not(HasSubstr(Figures(TextId::ProgressFiles, ""))));
}
}  // namespace
