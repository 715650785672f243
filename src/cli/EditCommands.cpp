#include "cli/EditCommands.h"

#include "cli/JsonText.h"
#include "cli/PasswordInput.h"
#include "cli/SystemdSchedule.h"
#include "engine/BackupLayout.h"
#include "engine/Countdown.h"
#include "engine/Restore.h"
#include "platform/SystemdUnits.h"
#include "sources/Entries.h"
#include "sources/FtpServerAddress.h"
#include "storage/OptionString.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"
#include "util/FileError.h"
#include "util/SafeFormat.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <limits>
#include <ostream>

namespace {

// The list's rows; the command line shows none.
class NoRows : public EntryListView {
public:
    void AppendRow(const std::string&) override {}
};

void RequireStorable(const CTranslation& texts, const std::string& text, bool isEntry) {
    if (isEntry ? WhyEntryNotStorable(text) : WhyDestinationNotStorable(text))
        throw Refusal(FormatText(texts.GetText(TextId::TextNotStorable), text));
}

bool IsFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// A path given on the command line as the window's file and folder dialogs
// would return it: absolute, normalised, and existing.
std::string ExistingAbsolutePath(const std::string& path) {
    struct stat status {};
    if (path.empty()) throw Refusal("an empty path names no file or folder");
    if (::stat(path.c_str(), &status) != 0) throw Refusal(path + ": " + std::strerror(errno));
    std::string absolute = AbsoluteNormalPath(path);
    if (absolute.size() > 1 && absolute.ends_with('/')) absolute.pop_back();
    return absolute;
}

// The entry Add File / Add Folder (or their exception forms) make of a path.
std::string EntryForPath(const std::string& path, bool exception) {
    const std::string absolute = ExistingAbsolutePath(path);
    const std::string entry = IsFolder(absolute) ? FolderEntry(absolute) : absolute;
    return exception ? ExceptionEntry(entry) : entry;
}

void RefuseOperands(const ProjectArguments& arguments, std::string_view command) {
    if (!arguments.operands.empty()) throw UsageError(std::string(command) + " takes no operand");
}

std::string ModeName(int backupMode) {
    return backupMode == 0 ? "full" : "incremental";
}

class NewCommand : public DescribedCommand {
public:
    NewCommand()
        : DescribedCommand({"new", "new PROJECT",
                            "create an empty project file PROJECT (no entries, no destination,\n"
                            "no schedule); it must not exist yet.\n",
                            "Exit status: 0 created, 1 the file cannot be written, 2 usage error or\n"
                            "PROJECT exists already.\n"}) {}

    int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) override {
        const ProjectArguments parsed = SplitProjectArguments(arguments);
        RequireOnlyOptions(parsed, {}, "new");
        if (parsed.operands.size() + (parsed.project ? 1 : 0) != 1) throw UsageError("new needs one PROJECT");
        const std::string path =
            parsed.project.value_or(parsed.operands.empty() ? "" : parsed.operands.front());
        std::error_code error;
        if (path.empty() ||
            std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found) {
            SayError(err, path + " exists already; nothing was written");
            return ExitCode::kUsage;
        }
        try {
            WriteProject(path, BackupSetup{});
        } catch (const FileError& failure) {
            SayError(err, failure.what());
            return ExitCode::kFailures;
        }
        out << "created project " << AbsoluteNormalPath(path) << '\n';
        return ExitCode::kClean;
    }
};

class ShowCommand : public DescribedCommand {
public:
    ShowCommand()
        : DescribedCommand({"show", "show [--project PROJECT] [--json]",
                            "print the project: destination (an FTP password is never shown),\n"
                            "schedule, last run, backup mode and entries.\n",
                            "--project PROJECT  the project (default: the desktop program's default)\n"
                            "--json             one JSON object instead of text\n"
                            "Exit status: 0 shown, 2 usage error or unloadable project.\n"}) {}

    int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) override {
        const ProjectArguments parsed = SplitProjectArguments(arguments);
        RequireOnlyOptions(parsed, {"--json"}, "show");
        RefuseOperands(parsed, "show");
        CTranslation texts;
        const std::optional<LoadedSetup> loaded = LoadProjectForCommand(parsed.project, texts, err);
        if (!loaded) return ExitCode::kUsage;
        const BackupSetup& setup = loaded->setup;
        if (HasOption(parsed, "--json"))
            PrintJson(setup, out);
        else
            PrintText(setup, out);
        return ExitCode::kClean;
    }

private:
    static std::string EntryKind(const std::string& entry) {
        const std::string kind = IsFolderEntry(entry) ? "folder" : "file";
        return IsExceptionEntry(entry) ? kind + " exception" : kind;
    }

    static void PrintText(const BackupSetup& setup, std::ostream& out) {
        out << "Project: " << setup.currentProjectFile << '\n'
            << "Destination: " << DestinationForMessages(setup.destination) << '\n'
            << "Schedule: "
            << (setup.interval == 0
                    ? "off"
                    : "every " + setup.daysText + "d" + setup.hoursText + "h" + setup.minutesText + "m (" +
                          std::to_string(setup.interval) + " minutes)")
            << '\n'
            << "Minutes remaining: " << setup.minutesRemaining << '\n'
            << "Last run: " << (setup.lastRun.empty() ? "never" : setup.lastRun) << '\n'
            << "Mode: " << ModeName(setup.backupMode) << '\n'
            << "Entries:\n";
        for (const std::string& entry : setup.entries)
            out << "  " << entry << "  (" << EntryKind(entry) << ")\n";
    }

    static void PrintJson(const BackupSetup& setup, std::ostream& out) {
        out << "{\"project\": " << JsonString(setup.currentProjectFile)
            << ", \"destination\": " << JsonString(DestinationForMessages(setup.destination))
            << ", \"intervalMinutes\": " << setup.interval
            << ", \"minutesRemaining\": " << setup.minutesRemaining
            << ", \"lastRun\": " << (setup.lastRun.empty() ? "null" : JsonString(setup.lastRun))
            << ", \"mode\": " << JsonString(ModeName(setup.backupMode)) << ", \"entries\": [";
        for (std::size_t i = 0; i < setup.entries.size(); ++i)
            out << (i == 0 ? "" : ", ") << "{\"entry\": " << JsonString(setup.entries[i])
                << ", \"kind\": " << JsonString(EntryKind(setup.entries[i])) << '}';
        out << "]}\n";
    }
};

// add and exclude: every path is checked before any goes in, so refused input
// leaves the project as it was.
class AddCommand : public DescribedCommand {
public:
    explicit AddCommand(bool exceptions)
        : DescribedCommand(exceptions ? Texts{"exclude", "exclude [--project PROJECT] PATH...",
                                              "add exceptions: a file becomes \"-<path>\", a folder\n"
                                              "\"-<folder>/...\"; the run leaves them out.\n",
                                              kEditOptions}
                                      : Texts{"add", "add [--project PROJECT] PATH...",
                                              "add entries to back up: a file becomes its absolute path,\n"
                                              "a folder \"<folder>/...\" (everything below it).\n",
                                              kEditOptions}),
          exceptions_(exceptions) {}

    int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) override {
        const ProjectArguments parsed = SplitProjectArguments(arguments);
        RequireOnlyOptions(parsed, {}, Name());
        if (parsed.operands.empty()) throw UsageError(std::string(Name()) + " needs at least one PATH");
        std::vector<std::string> added;
        const int code = EditProject(parsed.project, err, [&](BackupSetup& setup, const CTranslation& texts) {
            for (const std::string& path : parsed.operands) {
                added.push_back(EntryForPath(path, exceptions_));
                RequireStorable(texts, added.back(), true);
            }
            NoRows rows;
            for (const std::string& entry : added) AppendEntry(setup, rows, entry);
        });
        if (code == ExitCode::kClean)
            for (const std::string& entry : added) out << "added: " << entry << '\n';
        return code;
    }

    static constexpr std::string_view kEditOptions =
        "--project PROJECT  the project (default: the desktop program's default)\n"
        "Exit status: 0 saved, 1 the project cannot be written, 2 usage error,\n"
        "unloadable project or a refused PATH (nothing is changed then).\n";

private:
    bool exceptions_;
};

class RemoveCommand : public DescribedCommand {
public:
    RemoveCommand()
        : DescribedCommand({"remove", "remove [--project PROJECT] ENTRY...",
                            "remove entries, named as \"show\" lists them (a folder may also be\n"
                            "named by its path without \"/...\").\n",
                            AddCommand::kEditOptions}) {}

    int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) override {
        const ProjectArguments parsed = SplitProjectArguments(arguments);
        RequireOnlyOptions(parsed, {}, "remove");
        if (parsed.operands.empty()) throw UsageError("remove needs at least one ENTRY");
        std::vector<std::string> removed;
        const int code = EditProject(parsed.project, err, [&](BackupSetup& setup, const CTranslation&) {
            std::vector<std::string>& entries = setup.entries;
            for (const std::string& name : parsed.operands) {
                auto found = std::find(entries.begin(), entries.end(), name);
                if (found == entries.end())
                    found = std::find(entries.begin(), entries.end(), FolderEntry(name));
                if (found == entries.end()) throw Refusal(name + ": no such entry in the project");
                removed.push_back(*found);
                entries.erase(found);
            }
        });
        if (code == ExitCode::kClean)
            for (const std::string& entry : removed) out << "removed: " << entry << '\n';
        return code;
    }
};

class DestinationCommand : public DescribedCommand {
public:
    DestinationCommand()
        : DescribedCommand({"destination", "destination [--project PROJECT] DEST",
                            "set where backups go: an existing local folder (stored as\n"
                            "\"<absolute folder>/...\"), or a server as ftp://USER@HOST[:PORT]/FOLDER\n"
                            "(plain FTP), ftps://... (FTP with TLS) or sftp://... (SFTP). The\n"
                            "password is never taken from the command line: it is asked for\n"
                            "without echo on a terminal, or read as the first line of standard\n"
                            "input. For SFTP an empty password logs in with the SSH agent or the\n"
                            "key in ~/.ssh (id_ed25519, id_ecdsa, id_rsa); a password given is\n"
                            "also tried as that key's passphrase.\n",
                            AddCommand::kEditOptions}) {}

    int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) override {
        const ProjectArguments parsed = SplitProjectArguments(arguments);
        RequireOnlyOptions(parsed, {}, "destination");
        if (parsed.operands.size() != 1) throw UsageError("destination needs one DEST");
        const std::string& given = parsed.operands.front();
        std::string shown;
        const int code = EditProject(parsed.project, err, [&](BackupSetup& setup, const CTranslation& texts) {
            setup.destination = StartsWithRemoteScheme(given) ? FtpDestinationFor(given, texts, err)
                                                              : LocalDestinationFor(given, texts);
            shown = DestinationForMessages(setup.destination);
        });
        if (code == ExitCode::kClean) out << "destination: " << shown << '\n';
        return code;
    }

private:
    static std::string LocalDestinationFor(const std::string& folder, const CTranslation& texts) {
        const std::string absolute = ExistingAbsolutePath(folder);
        if (!IsFolder(absolute)) throw Refusal(folder + ": not a folder");
        const std::string destination = LocalDestination(absolute);
        RequireStorable(texts, destination, false);
        return destination;
    }

    // The fields the FTP dialog has, with the dialog's refusals.
    static std::string FtpDestinationFor(const std::string& url, const CTranslation& texts,
                                         std::ostream& err) {
        const RemoteProtocol protocol = ProtocolOfText(url);
        const std::string_view prefix = SchemeOf(protocol);
        const std::string rest = url.substr(prefix.size());
        const std::size_t slash = rest.find('/');
        const std::string authority = rest.substr(0, slash);
        const std::string folder = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        const std::size_t at = authority.rfind('@');
        if (at == std::string::npos)
            throw Refusal("the address names no user: use " + std::string(prefix) + "USER@HOST/FOLDER");
        const std::string user = authority.substr(0, at);
        const std::string host = authority.substr(at + 1);
        RequireFtpField(texts, "User", user);
        RequireFtpField(texts, "Folder", folder);
        RequireFtpField(texts, "Server", host);
        std::string why;
        if (host.empty() || !ParseFtpServer(host, why, DefaultPort(protocol)))
            throw Refusal("the server \"" + host + "\" cannot be reached as written" +
                          (why.empty() ? std::string() : ": " + why));
        const std::string password = ReadPassword("Password for " + user + "@" + host + ": ", err);
        RequireFtpField(texts, "Password", password);
        // Plain FTP keeps the text it always had; FTP with TLS always opens
        // its data connections itself, and SFTP has none.
        return FtpDestination(std::string(prefix) + host, user, password, folder,
                              protocol == RemoteProtocol::FtpTls);
    }

    // The message names the field, never its text: it may be the password.
    static void RequireFtpField(const CTranslation& texts, std::string_view field, const std::string& text) {
        if (text.find('@') != std::string::npos)
            throw Refusal(FormatText(texts.GetText(TextId::FieldContainsAt), field));
        if (WhyDestinationNotStorable(text))
            throw Refusal(FormatText(texts.GetText(TextId::TextNotStorable), field));
    }
};

class ScheduleCommand : public DescribedCommand {
public:
    ScheduleCommand()
        : DescribedCommand({"schedule",
                            "schedule [--project PROJECT] --every INTERVAL | --off | --systemd [--off]",
                            "set how often the project is backed up: INTERVAL is days, hours\n"
                            "and minutes such as 1d2h30m, 12h or 90m; --off turns the schedule off.\n"
                            "The countdown starts again from the full interval.\n"
                            "--systemd writes a systemd user service and timer that run the\n"
                            "project at its interval (a run missed while the machine was off\n"
                            "happens after the next boot) and enables the timer; while the timer\n"
                            "exists the desktop program's scheduler leaves the project to it.\n"
                            "--systemd --off disables and removes them.\n",
                            "--project PROJECT  the project (default: the desktop program's default)\n"
                            "Exit status: 0 saved, 1 a file cannot be written (or systemctl refused),\n"
                            "2 usage error, unloadable project, a refused INTERVAL or, with\n"
                            "--systemd, a project without a schedule (nothing is changed then).\n"}) {}

    int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) override {
        std::vector<std::string> rest = arguments;
        std::optional<std::string> every;
        const auto everyAt = std::find(rest.begin(), rest.end(), "--every");
        if (everyAt != rest.end()) {
            if (everyAt + 1 == rest.end()) throw UsageError("--every needs an INTERVAL");
            every = *(everyAt + 1);
            rest.erase(everyAt, everyAt + 2);
        }
        const ProjectArguments parsed = SplitProjectArguments(rest);
        RequireOnlyOptions(parsed, {"--off", "--systemd"}, "schedule");
        RefuseOperands(parsed, "schedule");
        if (HasOption(parsed, "--systemd")) {
            if (every) throw UsageError("--systemd takes the project's interval: set it with --every first");
            return HasOption(parsed, "--off") ? RemoveSystemdSchedule(parsed.project, out, err)
                                              : WriteSystemdSchedule(parsed.project, out, err);
        }
        if (every.has_value() == HasOption(parsed, "--off"))
            throw UsageError("schedule needs --every INTERVAL or --off");
        std::int32_t interval = 0;
        bool timerInCharge = false;
        const int code = EditProject(parsed.project, err, [&](BackupSetup& setup, const CTranslation&) {
            timerInCharge = SystemdTimerInCharge(setup.currentProjectFile);
            const Boxes boxes = every ? ParseInterval(*every) : Boxes{};
            setup.daysText = std::to_string(boxes.days);
            setup.hoursText = std::to_string(boxes.hours);
            setup.minutesText = std::to_string(boxes.minutes);
            // As the window does when a box changes.
            setup.interval = IntervalFromBoxes(setup);
            setup.minutesRemaining = setup.interval;
            interval = setup.interval;
        });
        if (code == ExitCode::kClean)
            out << (interval == 0 ? std::string("schedule: off")
                                  : "schedule: every " + std::to_string(interval) + " minutes")
                << '\n';
        if (code == ExitCode::kClean && timerInCharge)
            out << "A systemd timer runs this project: schedule --systemd gives it the new interval,\n"
                   "schedule --systemd --off removes it.\n";
        return code;
    }

private:
    struct Boxes {
        long long days = 0, hours = 0, minutes = 0;
    };

    static Boxes ParseInterval(const std::string& text) {
        const Refusal refusal("\"" + text +
                              "\" is no interval: give days, hours and minutes such as 1d2h30m");
        Boxes boxes;
        std::string_view rest = text;
        std::string units;
        while (!rest.empty()) {
            long long number = 0;
            const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), number);
            if (error != std::errc() || end == rest.data() + rest.size() || number < 0) throw refusal;
            const char unit = *end;
            if (units.find(unit) != std::string::npos) throw refusal;
            units += unit;
            if (unit == 'd')
                boxes.days = number;
            else if (unit == 'h')
                boxes.hours = number;
            else if (unit == 'm')
                boxes.minutes = number;
            else
                throw refusal;
            rest.remove_prefix(static_cast<std::size_t>(end - rest.data()) + 1);
        }
        const long double total = 1440.0L * boxes.days + 60.0L * boxes.hours + boxes.minutes;
        if (units.empty() || total <= 0)
            throw Refusal("the interval must be at least one minute; --off turns the schedule off");
        if (total > std::numeric_limits<std::int32_t>::max())
            throw Refusal("\"" + text + "\" is longer than any schedule can be");
        return boxes;
    }
};

class ModeCommand : public DescribedCommand {
public:
    ModeCommand()
        : DescribedCommand({"mode", "mode [--project PROJECT] full|incremental",
                            "choose full backups (everything copied on every run) or incremental\n"
                            "ones (only what changed). As in the window, this is a setting of the\n"
                            "program and applies to every project; the project is only checked.\n",
                            "--project PROJECT  the project (default: the desktop program's default)\n"
                            "Exit status: 0 saved, 1 the settings cannot be written, 2 usage error\n"
                            "or unloadable project.\n"}) {}

    int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) override {
        const ProjectArguments parsed = SplitProjectArguments(arguments);
        RequireOnlyOptions(parsed, {}, "mode");
        if (parsed.operands.size() != 1 ||
            (parsed.operands[0] != "full" && parsed.operands[0] != "incremental"))
            throw UsageError("mode needs full or incremental");
        CTranslation texts;
        if (!LoadProjectForCommand(parsed.project, texts, err)) return ExitCode::kUsage;
        PowerClass settings;
        settings.ResolveSettingsFile();
        try {
            // Position 0 of "Options", as the window's mode buttons store it.
            std::string options = CompleteOptionString(settings.GetOptions());
            options[Option::kIncrementalMode] = parsed.operands[0] == "incremental" ? '1' : '0';
            settings.SetSetting("Options", options);
        } catch (const std::exception& error) {
            SayError(err, error.what());
            return ExitCode::kFailures;
        }
        out << "mode: " << parsed.operands[0] << '\n';
        return ExitCode::kClean;
    }
};
}  // namespace

std::vector<std::unique_ptr<Command>> EditCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(std::make_unique<NewCommand>());
    commands.push_back(std::make_unique<ShowCommand>());
    commands.push_back(std::make_unique<AddCommand>(false));
    commands.push_back(std::make_unique<AddCommand>(true));
    commands.push_back(std::make_unique<RemoveCommand>());
    commands.push_back(std::make_unique<DestinationCommand>());
    commands.push_back(std::make_unique<ScheduleCommand>());
    commands.push_back(std::make_unique<ModeCommand>());
    return commands;
}
