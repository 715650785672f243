#include "platform/SystemdUnits.h"

#include "platform/XdgFolders.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>

namespace {
constexpr std::string_view kUnitPrefix = "tarnwick-backup-";
constexpr std::size_t kStemLimit = 32;
constexpr std::int32_t kMinutesPerHour = 60;
constexpr std::int32_t kMinutesPerDay = 1440;
constexpr std::int32_t kMinutesPerWeek = 7 * kMinutesPerDay;
// After a boot the first run waits this long, so the network and the session are up.
constexpr std::int32_t kBootDelayMinutes = 5;

// FNV-1a: the same path gives the same name in every version of the program.
std::string PathHash(std::string_view path) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : path) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>((hash >> 32) ^ (hash & 0xffffffffU)));
    return text;
}

// The file's name without its extension, reduced to what reads well in a unit name.
std::string ReadableStem(const std::string& path) {
    std::string stem;
    for (const char c : std::filesystem::path(path).stem().string()) {
        if (stem.size() == kStemLimit) break;
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '_' || c == '-';
        stem += plain ? c : '_';
    }
    return stem.empty() ? "project" : stem;
}

// One argument of ExecStart or a value of Environment, double-quoted with C
// escapes; "%" and "$" are doubled so systemd expands no specifier or variable.
std::string QuotedForUnit(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '%' || c == '$') {
            quoted += c;
            quoted += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

// A calendar expression that fires exactly every intervalMinutes, if there is one.
std::optional<std::string> CalendarFor(std::int32_t intervalMinutes) {
    if (intervalMinutes == kMinutesPerWeek) return "Mon *-*-* 00:00:00";
    if (intervalMinutes == kMinutesPerDay) return "*-*-* 00:00:00";
    if (intervalMinutes % kMinutesPerHour == 0 && 24 % (intervalMinutes / kMinutesPerHour) == 0)
        return "*-*-* 00/" + std::to_string(intervalMinutes / kMinutesPerHour) + ":00:00";
    if (intervalMinutes < kMinutesPerHour && kMinutesPerHour % intervalMinutes == 0)
        return "*-*-* *:00/" + std::to_string(intervalMinutes) + ":00";
    return std::nullopt;
}

// In a unit's settings "%" starts a specifier.
std::string WithoutSpecifiers(std::string_view text) {
    std::string escaped;
    for (const char c : text) escaped += c == '%' ? std::string("%%") : std::string(1, c);
    return escaped;
}
}  // namespace

std::string ProjectPathForUnits(const std::string& projectPath) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(projectPath, error);
    if (error) return projectPath;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    return (error ? absolute.lexically_normal() : resolved).string();
}

std::optional<SystemdUnits> SystemdUnitsFor(const std::string& projectPath) {
    const std::optional<std::string> configHome = ShellFolderPath("AppData");
    if (!configHome) return std::nullopt;
    const std::string path = ProjectPathForUnits(projectPath);
    const std::string base = std::string(kUnitPrefix) + ReadableStem(path) + "-" + PathHash(path);
    return SystemdUnits{*configHome + "/systemd/user", base + ".service", base + ".timer"};
}

std::optional<std::string> WhyNotInUnitFile(const std::string& path) {
    if (path.find_first_of("\r\n") != std::string::npos) return path + " holds a line break";
    return std::nullopt;
}

std::string ServiceUnitText(const std::string& runnerPath, const std::string& projectPath,
                            const std::string& configHome) {
    return "# Written by tarnwick-backup-cli schedule --systemd for " + projectPath +
           ";\n# removed by tarnwick-backup-cli schedule --systemd --off.\n"
           "[Unit]\n"
           "Description=Tarnwick Backup of " +
           WithoutSpecifiers(projectPath) +
           "\n\n"
           "[Service]\n"
           "Type=oneshot\n"
           "Environment=" +
           QuotedForUnit("XDG_CONFIG_HOME=" + configHome) +
           "\n"
           "ExecStart=" +
           QuotedForUnit(runnerPath) + " run --project " + QuotedForUnit(projectPath) +
           "\n"
           // Exit 3: the window's run held the lock; the project was backed up meanwhile.
           "SuccessExitStatus=3\n";
}

std::string TimerUnitText(std::int32_t intervalMinutes, const std::string& projectPath,
                          const std::string& serviceName) {
    std::string schedule;
    if (const std::optional<std::string> calendar = CalendarFor(intervalMinutes))
        schedule = "OnCalendar=" + *calendar + "\n";
    else
        schedule = "OnBootSec=" + std::to_string(std::min(intervalMinutes, kBootDelayMinutes)) +
                   "min\nOnUnitActiveSec=" + std::to_string(intervalMinutes) + "min\n";
    return "# Written by tarnwick-backup-cli schedule --systemd for " + projectPath +
           ";\n# removed by tarnwick-backup-cli schedule --systemd --off.\n"
           "[Unit]\n"
           "Description=Tarnwick Backup of " +
           WithoutSpecifiers(projectPath) + " every " + std::to_string(intervalMinutes) +
           " minutes\n\n"
           "[Timer]\n" +
           schedule + "Persistent=true\nUnit=" + serviceName +
           "\n\n"
           "[Install]\n"
           "WantedBy=timers.target\n";
}

bool SystemdTimerInCharge(const std::string& projectPath) {
    if (projectPath.empty()) return false;
    const std::optional<SystemdUnits> units = SystemdUnitsFor(projectPath);
    struct stat status {};
    return units && ::stat(units->TimerPath().c_str(), &status) == 0;
}
