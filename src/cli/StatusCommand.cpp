#include "cli/StatusCommand.h"

#include "cli/JsonText.h"
#include "cli/SystemdSchedule.h"
#include "engine/BackupLayout.h"
#include "sources/Entries.h"
#include "sources/FtpConnection.h"
#include "sources/FtpServerAddress.h"
#include "sources/FtpTransfer.h"
#include "storage/HistoryLog.h"
#include "storage/OptionString.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <ostream>

namespace {
// Only the end of a long log is read: the last run block is there.
constexpr std::streamoff kLogTailBytes = 1 << 20;
constexpr std::string_view kRunSeparator = "-------------------";
constexpr std::chrono::milliseconds kReachTimeout{10'000};

std::string LogTail(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return {};
    const std::streamoff size = file.tellg();
    file.seekg(std::max<std::streamoff>(0, size - kLogTailBytes));
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The outcome of the last run block of the history log.
std::string LastOutcome(const LoadedSetup& loaded, const CTranslation& texts) {
    if (!OptionIsOne(loaded.setup.optionFlags, Option::kWriteLog)) return "unknown (the history log is off)";
    const std::string log = LogTail(HistoryLogPath(loaded.settingsFolder, loaded.programFolder));
    const std::size_t start = log.rfind(kRunSeparator);
    if (start == std::string::npos) return "unknown (the history log holds no run)";
    const std::string block = log.substr(start);
    const auto has = [&](TextId id) { return block.find(texts.GetText(id)) != std::string::npos; };
    if (has(TextId::RunCancelled)) return "cancelled";
    if (!has(TextId::RunEnded)) return "unfinished (the run was stopped or is still running)";
    const std::string failure = '\n' + texts.GetText(TextId::LogFailure);
    std::size_t failures = 0;
    for (std::size_t at = block.find(failure); at != std::string::npos; at = block.find(failure, at + 1))
        ++failures;
    return failures == 0 ? "clean" : "failures (" + std::to_string(failures) + ")";
}

// "YYYY-MM-DD HH:MM" plus minutes, in local time; empty when the text is no time.
std::string MinutesAfter(const std::string& time, std::int32_t minutes) {
    std::tm parts{};
    if (std::sscanf(time.c_str(), "%d-%d-%d %d:%d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                    &parts.tm_hour, &parts.tm_min) != 5)
        return {};
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    parts.tm_min += minutes;
    parts.tm_isdst = -1;
    if (std::mktime(&parts) == -1) return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &parts);
    return text;
}

// The real-time scheduler runs when the interval has passed since the last run;
// otherwise the desktop program counts the remaining minutes down while it runs.
std::string NextDue(const BackupSetup& setup, const SchedulerInCharge& scheduler) {
    if (scheduler.kind == "systemd")
        return scheduler.nextElapse ? *scheduler.nextElapse + " (systemd timer)"
                                    : "unknown (systemctl --user list-timers does not answer)";
    if (setup.interval == 0) return "never (no schedule)";
    if (OptionIsOne(setup.optionFlags, Option::kRealTimeScheduler)) {
        if (setup.lastRun.empty()) return "now (no run yet)";
        if (const std::string due = MinutesAfter(setup.lastRun, setup.interval); !due.empty()) return due;
    }
    return "in " + std::to_string(setup.minutesRemaining) + " minutes of the desktop program's countdown";
}

std::string SchedulerText(const SchedulerInCharge& scheduler) {
    if (scheduler.kind == "systemd") return "systemd timer " + *scheduler.timer;
    if (scheduler.kind == "window") return "the desktop program's scheduler (while it runs)";
    return "none";
}

// Empty when the destination can be reached, otherwise why not.
std::string WhyUnreachable(const BackupSetup& setup, const std::string& settingsFolder) {
    if (const std::string problem = DestinationProblem(setup.destination); !problem.empty()) return problem;
    if (!IsFtpDestination(setup.destination)) {
        const std::string root = BackupRoot(setup.destination);
        struct stat status {};
        if (::stat(root.c_str(), &status) != 0) return root + ": " + std::strerror(errno);
        if (!S_ISDIR(status.st_mode)) return root + ": not a folder";
        if (::access(root.c_str(), W_OK | X_OK) != 0) return root + ": " + std::strerror(errno);
        return {};
    }
    const FtpParameters ftp = DecodeFtpDestination(setup.destination);
    std::string why;
    const std::string host = ftp.server.starts_with("ftp://") ? ftp.server.substr(6) : ftp.server;
    const std::optional<FtpServerAddress> address = ParseFtpServer(host, why, DefaultPort(ftp.protocol));
    if (!address) return "the FTP server \"" + host + "\" cannot be reached as written: " + why;
    FtpTimeouts timeouts = FtpTimeoutsFromEnvironment();
    timeouts.connect = std::min(timeouts.connect, kReachTimeout);
    timeouts.stall = std::min(timeouts.stall, kReachTimeout);
    if (ftp.protocol != RemoteProtocol::Ftp) {
        // The server's identity is checked as a run checks it; a listing
        // changes nothing there.
        FtpSession session(nullptr, {}, timeouts);
        session.UsePassiveMode(true);
        session.UseProtocol(ftp.protocol, settingsFolder);
        std::vector<FtpRemoteFile> files;
        return FtpListFiles(session, ftp.server, ftp.user, ftp.password, ftp.remoteBaseDirectory, false,
                            files) == FtpListOutcome::Failed
                   ? session.LastError()
                   : std::string();
    }
    FtpConnection connection(nullptr, {}, timeouts);
    connection.Target(*address, {ftp.user, ftp.password});
    const FtpReply reply = connection.SendCommands({"NOOP"});
    return reply.ok ? std::string() : reply.problem;
}
}  // namespace

StatusCommand::StatusCommand()
    : DescribedCommand({"status", "status [--project PROJECT] [--json]",
                        "print the last run and its outcome (clean, failures, cancelled; read\n"
                        "from the history log when it is written), when the next run is due,\n"
                        "which scheduler runs the project (a systemd timer written by\n"
                        "schedule --systemd, the desktop program's scheduler, or none),\n"
                        "and whether the destination can be reached (a local folder exists\n"
                        "and is writable; an FTP server accepts the login).\n",
                        "--project PROJECT  the project (default: the desktop program's default)\n"
                        "--json             one JSON object instead of text\n"
                        "Exit status: 0 shown (even when the destination cannot be reached),\n"
                        "2 usage error or unloadable project.\n"}) {}

int StatusCommand::Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const ProjectArguments parsed = SplitProjectArguments(arguments);
    RequireOnlyOptions(parsed, {"--json"}, "status");
    if (!parsed.operands.empty()) throw UsageError("status takes no operand");
    CTranslation texts;
    const std::optional<LoadedSetup> loaded = LoadProjectForCommand(parsed.project, texts, err);
    if (!loaded) return ExitCode::kUsage;
    const BackupSetup& setup = loaded->setup;
    const std::string outcome = setup.lastRun.empty() ? "none" : LastOutcome(*loaded, texts);
    const SchedulerInCharge scheduler = FindSchedulerInCharge(setup);
    const std::string nextDue = NextDue(setup, scheduler);
    const std::string unreachable = WhyUnreachable(setup, loaded->settingsFolder);
    if (HasOption(parsed, "--json")) {
        out << "{\"project\": " << JsonString(setup.currentProjectFile)
            << ", \"lastRun\": " << (setup.lastRun.empty() ? "null" : JsonString(setup.lastRun))
            << ", \"outcome\": " << JsonString(outcome) << ", \"nextDue\": " << JsonString(nextDue)
            << ", \"minutesRemaining\": " << setup.minutesRemaining
            << ", \"scheduler\": " << JsonString(scheduler.kind)
            << ", \"timer\": " << (scheduler.timer ? JsonString(*scheduler.timer) : "null")
            << ", \"nextElapse\": " << (scheduler.nextElapse ? JsonString(*scheduler.nextElapse) : "null")
            << ", \"destination\": " << JsonString(DestinationForMessages(setup.destination))
            << ", \"reachable\": " << (unreachable.empty() ? "true" : "false")
            << ", \"unreachableBecause\": " << (unreachable.empty() ? "null" : JsonString(unreachable))
            << "}\n";
        return ExitCode::kClean;
    }
    out << "Project: " << setup.currentProjectFile << '\n'
        << "Last run: " << (setup.lastRun.empty() ? "never" : setup.lastRun) << '\n'
        << "Outcome: " << outcome << '\n'
        << "Next due: " << nextDue << '\n'
        << "Scheduler: " << SchedulerText(scheduler) << '\n'
        << "Destination: " << DestinationForMessages(setup.destination) << " ("
        << (unreachable.empty() ? "reachable" : "not reachable: " + unreachable) << ")\n";
    return ExitCode::kClean;
}
