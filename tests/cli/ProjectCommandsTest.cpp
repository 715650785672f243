#include "CliProcess.h"
#include "CliTestHome.h"
#include "engine/BackupLayout.h"
#include "i18n/CTranslation.h"
#include "sources/Entries.h"
#include "storage/FirstStart.h"
#include "storage/HistoryLog.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"
#include "support/FtpTestServer.h"
#include "support/TempHome.h"
#include "util/SafeFormat.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {
class ProjectCommandsTest : public ::testing::Test, public CliTestHome {
protected:
    ProjectCommandsTest() {
        WriteTestFile(source.path() + "/Data/a.txt", "alpha");
        WriteTestFile(source.path() + "/Data/sub/b.txt", "bee");
        WriteTestFile(source.path() + "/notes.txt", "notes");
        settings.SetSetting("Options", "000010000000000");  // full, history log on
    }

    BackupSetup Saved() const {
        BackupSetup saved;
        EXPECT_EQ(ReadProject(projectPath, saved), ProjectLoad::Loaded);
        return saved;
    }
    CliResult Cli(std::vector<std::string> arguments, const std::string& input = {}) const {
        arguments.insert(arguments.begin() + 1, {"--project", projectPath});
        return RunCli(arguments, input);
    }
    // A project with both entries, the local destination and a schedule.
    void MakeProject() {
        ASSERT_EQ(RunCli({"new", projectPath}).exitCode, 0);
        ASSERT_EQ(Cli({"add", source.path() + "/Data", source.path() + "/notes.txt"}).exitCode, 0);
        ASSERT_EQ(Cli({"destination", target.path()}).exitCode, 0);
        ASSERT_EQ(Cli({"schedule", "--every", "45m"}).exitCode, 0);
    }
    std::string LogPath() const { return HistoryLogPath(settings.SettingsFolder(), BinFolder()); }
};

// Every file below the folder with its bytes and modification time.
std::map<std::string, std::pair<std::string, fs::file_time_type>> Tree(const std::string& folder) {
    std::map<std::string, std::pair<std::string, fs::file_time_type>> tree;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        tree[item.path().string()] = {item.is_regular_file() ? ReadTestFile(item.path().string()) : "",
                                      item.last_write_time()};
    return tree;
}

TEST_F(ProjectCommandsTest, NewAddExcludeRemoveAndShowEditTheProjectAsTheWindowDoes) {
    MakeProject();
    const CliResult excluded = Cli({"exclude", source.path() + "/Data/sub", source.path() + "/Data/a.txt"});
    EXPECT_EQ(excluded.exitCode, 0) << excluded.err;
    const std::string data = source.path() + "/Data";
    EXPECT_EQ(Saved().entries, (std::vector<std::string>{data + "/...", source.path() + "/notes.txt",
                                                         "-" + data + "/sub/...", "-" + data + "/a.txt"}));
    EXPECT_EQ(Saved().destination, target.path() + "/...");
    EXPECT_EQ(fs::status(projectPath).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // A folder may be named by its path; an exception by its entry.
    const CliResult removed = Cli({"remove", data, "-" + data + "/a.txt"});
    EXPECT_EQ(removed.exitCode, 0) << removed.err;
    EXPECT_EQ(Saved().entries,
              (std::vector<std::string>{source.path() + "/notes.txt", "-" + data + "/sub/..."}));

    const CliResult text = Cli({"show"});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_THAT(text.out, HasSubstr("Schedule: every 0d0h45m (45 minutes)"));
    EXPECT_THAT(text.out, HasSubstr("-" + data + "/sub/...  (folder exception)"));

    const CliResult json = Cli({"show", "--json"});
    ASSERT_EQ(json.exitCode, 0);
    WriteTestFile(home.path() + "/show.json", json.out);
    const CliResult parsed = [&] {
        const std::string script = home.path() + "/check.py";
        WriteTestFile(script,
                      "import json, sys\n"
                      "d = json.load(open(sys.argv[1]))\n"
                      "print(d['intervalMinutes'], d['mode'], len(d['entries']), d['entries'][1]['kind'])\n");
        const std::string command =
            "python3 " + script + " " + home.path() + "/show.json > " + home.path() + "/py.out";
        const int code = std::system(command.c_str());
        return CliResult{code, ReadTestFile(home.path() + "/py.out"), ""};
    }();
    EXPECT_EQ(parsed.exitCode, 0);
    EXPECT_EQ(parsed.out, "45 full 2 folder exception\n");
}

TEST_F(ProjectCommandsTest, RefusedInputExitsTwoWithOneLineAndLeavesTheProjectByteIdentical) {
    MakeProject();
    WriteTestFile(source.path() + "/star*name", "x");
    WriteTestFile(source.path() + "/line\nbreak", "x");
    const std::string before = ReadTestFile(projectPath);
    const std::vector<std::vector<std::string>> refused = {
        {"add", source.path() + "/notes.txt", source.path() + "/gone"},  // all or nothing
        {"add", source.path() + "/star*name"},
        {"exclude", source.path() + "/line\nbreak"},
        {"remove", source.path() + "/never-added"},
        {"destination", source.path() + "/notes.txt"},
        {"destination", home.path() + "/no-such-folder"},
        {"destination", "ftp://example.org/up"},
        {"destination", "ftp://a@b@example.org/up"},
        {"destination", "ftp://ann@bad host/up"},
        {"schedule", "--every", "2x"},
        {"schedule", "--every", "0m"},
        {"schedule", "--every", "99999999d"},
    };
    for (const std::vector<std::string>& arguments : refused) {
        const CliResult result = Cli(arguments, "secret\n");
        EXPECT_EQ(result.exitCode, 2) << arguments[0] << " " << arguments.back();
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_THAT(result.err, HasSubstr("tarnwick-backup-cli: "));
        EXPECT_EQ(ReadTestFile(projectPath), before) << arguments[0] << " " << arguments.back();
    }
    EXPECT_THAT(Cli({"add", source.path() + "/star*name"}).err,
                HasSubstr(FormatText(texts.GetText(TextId::TextNotStorable), source.path() + "/star*name")));
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"schedule", "--off", "--every", "1h"},
          {"mode", "weekly"},
          {"add"},
          {"show", "--colour"},
          {"new", projectPath}}) {
        EXPECT_EQ(RunCli(wrong).exitCode, 2) << wrong[0];
        EXPECT_EQ(ReadTestFile(projectPath), before) << wrong[0];
    }
}

TEST_F(ProjectCommandsTest, ScheduleSetsTheIntervalAndRestartsTheCountdownModeGoesToTheSettings) {
    MakeProject();
    EXPECT_EQ(Cli({"schedule", "--every", "1d2h30m"}).exitCode, 0);
    EXPECT_EQ(Saved().interval, 1590);
    EXPECT_EQ(Saved().minutesRemaining, 1590);
    EXPECT_EQ(Cli({"schedule", "--off"}).exitCode, 0);
    EXPECT_EQ(Saved().interval, 0);

    const std::string before = ReadTestFile(projectPath);
    EXPECT_EQ(Cli({"mode", "incremental"}).exitCode, 0);
    EXPECT_EQ(settings.GetSetting("Options"), "100010000000000");
    EXPECT_EQ(Cli({"mode", "full"}).exitCode, 0);
    EXPECT_EQ(settings.GetSetting("Options"), "000010000000000");
    EXPECT_EQ(ReadTestFile(projectPath), before);
}

TEST_F(ProjectCommandsTest, FtpPasswordComesFromStandardInputAndIsNeverShown) {
    FtpTestServer server;
    MakeProject();
    const std::string url = "ftp://" + server.user() + "@" + server.HostAndPort() + "/up";
    const CliResult set = Cli({"destination", url}, server.password() + "\n");
    EXPECT_EQ(set.exitCode, 0) << set.err;
    const FtpParameters stored = DecodeFtpDestination(Saved().destination);
    EXPECT_EQ(stored.server, server.HostAndPort());
    EXPECT_EQ(stored.user, server.user());
    EXPECT_EQ(stored.password, server.password());
    EXPECT_EQ(stored.folder, "up");

    const CliResult reachable = Cli({"status", "--json"});
    EXPECT_THAT(reachable.out, HasSubstr("\"reachable\": true"));
    for (const CliResult& result : {set, reachable, Cli({"show"}), Cli({"show", "--json"})}) {
        EXPECT_THAT(result.out, Not(HasSubstr(server.password())));
        EXPECT_THAT(result.err, Not(HasSubstr(server.password())));
    }

    EXPECT_EQ(Cli({"destination", url}, "wrong-password\n").exitCode, 0);
    const CliResult refused = Cli({"status"});
    EXPECT_THAT(refused.out, HasSubstr("not reachable"));
    EXPECT_THAT(refused.out + refused.err, Not(HasSubstr("wrong-password")));
    // Without a line on standard input there is no password and nothing changes.
    const std::string before = ReadTestFile(projectPath);
    EXPECT_EQ(Cli({"destination", url}).exitCode, 2);
    EXPECT_EQ(ReadTestFile(projectPath), before);
}

TEST_F(ProjectCommandsTest, StatusReadsTheOutcomeFromTheHistoryLogAndChecksTheFolder) {
    MakeProject();
    EXPECT_THAT(Cli({"status"}).out, HasSubstr("Last run: never"));
    ASSERT_EQ(RunCli({"run", projectPath}).exitCode, 0);
    const BackupSetup saved = Saved();
    const CliResult clean = Cli({"status"});
    EXPECT_THAT(clean.out, HasSubstr("Last run: " + saved.lastRun + "\nOutcome: clean\n"));
    EXPECT_THAT(clean.out, HasSubstr("(reachable)"));
    EXPECT_THAT(clean.out, HasSubstr("Next due: in 45 minutes of the desktop program's countdown\n"));
    settings.SetSetting("Options", "000011000000000");  // real-time scheduler: last run + interval
    BackupSetup edited = saved;
    edited.lastRun = "2026-02-28 23:30";
    WriteProject(projectPath, edited);
    EXPECT_THAT(Cli({"status", "--json"}).out, HasSubstr("\"nextDue\": \"2026-03-01 00:15\""));
    settings.SetSetting("Options", "000010000000000");

    fs::remove(source.path() + "/notes.txt");
    ASSERT_EQ(RunCli({"run", projectPath}).exitCode, 1);
    EXPECT_THAT(Cli({"status"}).out, HasSubstr("Outcome: failures (1)"));
    // A run stopped by the user, then one that never reached its end line.
    AppendToHistory(LogPath(), "\n\n\n-------------------\n");
    AppendToHistory(LogPath(), "2026-03-01 10:00:00" + texts.GetText(TextId::RunStarted));
    AppendToHistory(LogPath(), "2026-03-01 10:01:00" + texts.GetText(TextId::RunCancelled));
    EXPECT_THAT(Cli({"status"}).out, HasSubstr("Outcome: cancelled\n"));
    AppendToHistory(LogPath(), "\n\n\n-------------------\n");
    AppendToHistory(LogPath(), "2026-03-01 11:00:00" + texts.GetText(TextId::RunStarted));
    EXPECT_THAT(Cli({"status"}).out, HasSubstr("Outcome: unfinished"));

    settings.SetSetting("Options", "000000000000000");
    EXPECT_THAT(Cli({"status"}).out, HasSubstr("Outcome: unknown (the history log is off)"));
    fs::remove_all(target.path());
    EXPECT_THAT(Cli({"status"}).out, HasSubstr("not reachable: " + target.path()));
}

TEST_F(ProjectCommandsTest, DryRunListsWhatARunWouldCopyAndChangesNothing) {
    MakeProject();
    ASSERT_EQ(Cli({"exclude", source.path() + "/Data/sub"}).exitCode, 0);
    const auto dryRun = [&] {
        const auto sources = Tree(source.path());
        const auto targets = Tree(target.path());
        const std::string project = ReadTestFile(projectPath);
        const std::string log = fs::exists(LogPath()) ? ReadTestFile(LogPath()) : "";
        const CliResult result = RunCli({"run", "--dry-run", "--project", projectPath});
        EXPECT_EQ(Tree(source.path()), sources);
        EXPECT_EQ(Tree(target.path()), targets);
        EXPECT_EQ(ReadTestFile(projectPath), project);
        EXPECT_EQ(fs::exists(LogPath()) ? ReadTestFile(LogPath()) : "", log);
        return result;
    };
    const CliResult full = dryRun();
    EXPECT_EQ(full.exitCode, 0) << full.err;
    EXPECT_THAT(full.out,
                HasSubstr("would copy: " + source.path() + "/Data/a.txt -> " + target.path() + "/" +
                          EntryFolderName(source.path() + "/Data/...", 0, false) + "/a.txt (5 Bytes)"));
    EXPECT_THAT(full.out, Not(HasSubstr("b.txt")));
    EXPECT_THAT(full.out, HasSubstr("Dry run: 2 files"));
    EXPECT_THAT(full.out, HasSubstr("(10 Bytes)"));

    // Incremental after a run: only what changed since.
    settings.SetSetting("Options", "100010000000000");
    ASSERT_EQ(RunCli({"run", projectPath}).exitCode, 0);
    WriteTestFile(source.path() + "/notes.txt", "changed notes");
    SetModificationTime(source.path() + "/notes.txt", 2001, 1, 1, 10, 0, 0);
    const CliResult incremental = dryRun();
    EXPECT_EQ(incremental.exitCode, 0) << incremental.err;
    EXPECT_THAT(incremental.out, HasSubstr("would copy: " + source.path() + "/notes.txt"));
    EXPECT_THAT(incremental.out, Not(HasSubstr("a.txt")));
    EXPECT_THAT(incremental.out, HasSubstr("Dry run: 1 file of 3 scanned (13 Bytes)"));

    // A missing source is reported as the run would, still without writing.
    fs::remove(source.path() + "/notes.txt");
    const CliResult missing = dryRun();
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_THAT(missing.err, HasSubstr(source.path() + "/notes.txt: does not exist"));
}

TEST_F(ProjectCommandsTest, DryRunToAnFtpServerListsUploadsAndLeavesTheServerAlone) {
    FtpTestServer server;
    MakeProject();
    const std::string url = "ftp://" + server.user() + "@" + server.HostAndPort() + "/up";
    ASSERT_EQ(Cli({"destination", url}, server.password() + "\n").exitCode, 0);
    const auto serverTree = Tree(server.RootFolder());
    const CliResult full = Cli({"run", "--dry-run"});
    EXPECT_EQ(full.exitCode, 0) << full.err;
    EXPECT_THAT(full.out,
                HasSubstr("would upload: " + source.path() + "/Data/sub/b.txt -> up/tarnwick_backup_folder/" +
                          EntryFolderName(source.path() + "/Data/...", 0, false) + "/sub (3 Bytes)"));
    EXPECT_THAT(full.out, HasSubstr("would upload: " + source.path() +
                                    "/notes.txt -> up/tarnwick_backup_folder (5 Bytes)"));
    EXPECT_THAT(full.out, HasSubstr("Dry run: 3 files of 3 scanned (13 Bytes)"));

    settings.SetSetting("Options", "100010000000000");
    const CliResult incremental = Cli({"run", "--dry-run"});
    EXPECT_THAT(incremental.out, HasSubstr("would offer for upload: " + source.path() + "/notes.txt"));
    EXPECT_EQ(Tree(server.RootFolder()), serverTree);
}

// Output of a bash script run in the test's home.
std::string BashOutput(const std::string& folder, const std::string& script) {
    WriteTestFile(folder + "/script.sh", script);
    const std::string command = "bash " + folder + "/script.sh > " + folder + "/script.out 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return ReadTestFile(folder + "/script.out");
}

TEST_F(ProjectCommandsTest, EverySubcommandIsInTheManPageAndTheCompletion) {
    MakeProject();
    const std::string manPage =
        ReadTestFile(std::string(TARNWICK_SOURCE_DIR) + "/res/man/tarnwick-backup-cli.1");
    const std::string completion = std::string(TARNWICK_SOURCE_DIR) + "/res/completion/tarnwick-backup-cli";
    const std::string complete = "source " + completion +
                                 "\n"
                                 "t() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _tarnwick_backup_cli;"
                                 " printf '[%s]' \"${COMPREPLY[@]}\"; echo; }\n";
    const std::string program = BinFolder() + "/tarnwick-backup-cli";
    const std::string subcommands = BashOutput(home.path(), complete + "t " + program + " ''\n");
    const std::string help = RunCli({"--help"}).out;
    std::istringstream lines(help);
    int described = 0;
    for (std::string line; std::getline(lines, line);) {
        const std::string prefix = line.starts_with("Usage: ") ? "Usage: " : "       ";
        if (!line.starts_with(prefix + "tarnwick-backup-cli ") || line.find("--help") != std::string::npos)
            continue;
        const std::string rest = line.substr(prefix.size() + std::string("tarnwick-backup-cli ").size());
        const std::string name = rest.substr(0, rest.find(' '));
        ++described;
        EXPECT_THAT(manPage, HasSubstr(".B tarnwick-backup-cli " + name + "\n")) << name;
        EXPECT_THAT(subcommands, HasSubstr("[" + name + "]")) << name;
    }
    EXPECT_EQ(described, 12);

    const std::string answers =
        BashOutput(home.path(), complete + "t " + program + " remove --project " + projectPath + " ''\n" +
                                    "t " + program + " schedule --o\n" + "t " + program + " mode in\n");
    EXPECT_EQ(answers,
              "[" + source.path() + "/Data/...][" + source.path() + "/notes.txt]\n[--off]\n[incremental]\n");
}
}  // namespace
