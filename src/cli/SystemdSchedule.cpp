#include "cli/SystemdSchedule.h"

#include "cli/ProjectCommand.h"
#include "platform/ProcessInfo.h"
#include "platform/SystemdUnits.h"
#include "platform/XdgFolders.h"
#include "util/TextFile.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

extern char** environ;

namespace {
struct ProgramResult {
    int exitCode = -1;   // -1: it could not be started
    std::string output;  // stdout and stderr together
};

// `systemctl --user ARGUMENTS...` from PATH, with its output captured and no input.
ProgramResult Systemctl(const std::vector<std::string>& arguments) {
    std::vector<std::string> words{"systemctl", "--user"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    ProgramResult result;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned == 0) {
        char buffer[4096];
        for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            result.output.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(pipeFds[0]);
    if (spawned != 0) {
        result.output = std::strerror(spawned);
        return result;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// The first line of systemctl's answer, for a message.
std::string FirstLine(const std::string& output) {
    const std::string line = output.substr(0, output.find('\n'));
    return line.empty() ? "no answer" : line;
}

// What the user runs by hand when this command could not reach the user manager.
void SayWhatToRun(std::ostream& out, const ProgramResult& answer, const std::string& commands) {
    out << "systemctl --user is not reachable (" << FirstLine(answer.output)
        << "); once a user manager runs, " << commands << '\n';
}

// The project named by --project, or the default one.
std::optional<LoadedSetup> LoadForUnits(const std::optional<std::string>& project, std::ostream& err) {
    CTranslation texts;
    return LoadProjectForCommand(project, texts, err);
}

void RemoveIfPresent(const std::string& path, std::ostream& out) {
    std::error_code error;
    if (std::filesystem::remove(path, error)) out << "removed " << path << '\n';
    if (error) throw FileError(path, error.message());
}

// The next elapse in systemctl's own words from its list-timers line, whose first
// column is the next elapse ("Wed 2026-12-09 19:00:00 UTC") or "-"/"n/a".
std::optional<std::string> NextElapse(const std::string& timerName) {
    const ProgramResult listed = Systemctl({"list-timers", "--all", "--no-legend", "--no-pager", timerName});
    if (listed.exitCode != 0) return std::nullopt;
    std::istringstream lines(listed.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(timerName) == std::string::npos) continue;
        std::istringstream words(line);
        std::vector<std::string> next(4);
        for (std::string& word : next) words >> word;
        const bool isDate = next[1].size() == 10 && next[1][4] == '-' && next[1][7] == '-';
        if (!isDate) return std::nullopt;
        return next[0] + " " + next[1] + " " + next[2] + " " + next[3];
    }
    return std::nullopt;
}
}  // namespace

int WriteSystemdSchedule(const std::optional<std::string>& project, std::ostream& out, std::ostream& err) {
    const std::optional<LoadedSetup> loaded = LoadForUnits(project, err);
    if (!loaded) return ExitCode::kUsage;
    const BackupSetup& setup = loaded->setup;
    const std::string projectPath = ProjectPathForUnits(setup.currentProjectFile);
    const std::string runner = ExecutablePath();
    const std::optional<std::string> configHome = ShellFolderPath("AppData");
    const std::optional<SystemdUnits> units = SystemdUnitsFor(projectPath);
    for (const std::string& path : {projectPath, runner, configHome.value_or("")}) {
        if (const std::optional<std::string> why = WhyNotInUnitFile(path)) {
            SayError(err, *why + " and cannot be named in a unit file; nothing was written");
            return ExitCode::kUsage;
        }
    }
    if (setup.interval <= 0) {
        SayError(err,
                 projectPath +
                     " has no schedule: set one with schedule --every INTERVAL first; nothing was written");
        return ExitCode::kUsage;
    }
    if (!units || runner.empty()) {
        SayError(err,
                 "the user's configuration folder or this program's path cannot be found (is HOME set?)");
        return ExitCode::kFailures;
    }
    try {
        std::error_code error;
        std::filesystem::create_directories(units->folder, error);
        if (error) throw FileError(units->folder, error.message());
        // The service first: a timer is in charge from the moment its file exists.
        WriteFileAtomically(units->ServicePath(), ServiceUnitText(runner, projectPath, *configHome), 0644);
        WriteFileAtomically(units->TimerPath(),
                            TimerUnitText(setup.interval, projectPath, units->serviceName), 0644);
    } catch (const FileError& error) {
        SayError(err, error.what());
        return ExitCode::kFailures;
    }
    out << "wrote " << units->ServicePath() << '\n' << "wrote " << units->TimerPath() << '\n';
    out << "The timer runs the project every " << setup.interval
        << " minutes; the desktop program's scheduler leaves it to the timer while the timer exists.\n";

    const ProgramResult reloaded = Systemctl({"daemon-reload"});
    if (reloaded.exitCode != 0) {
        SayWhatToRun(
            out, reloaded,
            "run: systemctl --user daemon-reload && systemctl --user enable --now " + units->timerName);
        return ExitCode::kClean;
    }
    // A restart makes a timer that ran already take its new schedule.
    for (const std::vector<std::string>& call :
         {std::vector<std::string>{"enable", units->timerName}, {"restart", units->timerName}}) {
        const ProgramResult answer = Systemctl(call);
        if (answer.exitCode != 0) {
            SayError(err, "systemctl --user " + call[0] + " " + units->timerName +
                              " failed: " + FirstLine(answer.output));
            return ExitCode::kFailures;
        }
    }
    out << "enabled and started " << units->timerName << '\n';
    return ExitCode::kClean;
}

int RemoveSystemdSchedule(const std::optional<std::string>& project, std::ostream& out, std::ostream& err) {
    // A project file that is gone can still have its timer removed when named.
    std::string projectPath;
    std::int32_t interval = 0;
    if (project && ::access(project->c_str(), F_OK) != 0) {
        projectPath = ProjectPathForUnits(*project);
    } else {
        const std::optional<LoadedSetup> loaded = LoadForUnits(project, err);
        if (!loaded) return ExitCode::kUsage;
        projectPath = ProjectPathForUnits(loaded->setup.currentProjectFile);
        interval = loaded->setup.interval;
    }
    const std::optional<SystemdUnits> units = SystemdUnitsFor(projectPath);
    struct stat status {};
    if (!units || (::lstat(units->TimerPath().c_str(), &status) != 0 &&
                   ::lstat(units->ServicePath().c_str(), &status) != 0)) {
        out << "no systemd timer for " << projectPath << "; nothing to remove\n";
        return ExitCode::kClean;
    }
    const ProgramResult disabled = Systemctl({"disable", "--now", units->timerName});
    try {
        RemoveIfPresent(units->TimerPath(), out);
        RemoveIfPresent(units->ServicePath(), out);
        // disable removes this link; without a user manager it is removed here.
        const std::string wants = units->folder + "/timers.target.wants/" + units->timerName;
        std::error_code ignored;
        if (std::filesystem::is_symlink(std::filesystem::symlink_status(wants, ignored)))
            RemoveIfPresent(wants, out);
    } catch (const FileError& error) {
        SayError(err, error.what());
        return ExitCode::kFailures;
    }
    if (disabled.exitCode != 0)
        SayWhatToRun(out, disabled, "run: systemctl --user daemon-reload");
    else
        Systemctl({"daemon-reload"});
    out << (interval > 0 ? "The desktop program's scheduler runs the project again, every " +
                               std::to_string(interval) + " minutes.\n"
                         : std::string("The project has no schedule of its own.\n"));
    return ExitCode::kClean;
}

SchedulerInCharge FindSchedulerInCharge(const BackupSetup& setup) {
    if (SystemdTimerInCharge(setup.currentProjectFile)) {
        const std::optional<SystemdUnits> units = SystemdUnitsFor(setup.currentProjectFile);
        return {"systemd", units->timerName, NextElapse(units->timerName)};
    }
    return {setup.interval > 0 ? "window" : "none", std::nullopt, std::nullopt};
}
