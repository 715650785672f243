#include "platform/AutostartEntry.h"

#include "platform/XdgFolders.h"
#include "util/FileError.h"
#include "util/TextFile.h"

#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {
constexpr std::string_view kExecKey = "Exec=";

std::string EscapePercent(std::string_view command) {
    std::string escaped;
    for (const char c : command) {
        if (c == '%') escaped += '%';
        escaped += c;
    }
    return escaped;
}

std::string UnescapePercent(std::string_view exec) {
    std::string command;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] == '%' && i + 1 < exec.size() && exec[i + 1] == '%') ++i;
        command += exec[i];
    }
    return command;
}
}  // namespace

std::string AutostartEntryPath() {
    return ShellFolderPath("AppData").value_or(std::string()) + "/autostart/tarnwick-backup.desktop";
}

void WriteAutostartEntry(const std::string& command) {
    const std::string path = AutostartEntryPath();
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    if (error) throw FileError(path, error.message());
    // Desktop entries are read by the session, which expects plain LF line ends.
    WriteFileAtomically(path,
                        "[Desktop Entry]\n"
                        "Type=Application\n"
                        "Name=Tarnwick Backup\n"
                        "Exec=" +
                            EscapePercent(command) +
                            "\n"
                            "X-GNOME-Autostart-enabled=true\n");
}

void DeleteAutostartEntry() {
    const std::string path = AutostartEntryPath();
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw FileError(path, std::strerror(errno));
}

std::optional<std::string> ReadAutostartCommand() {
    std::vector<std::string> lines;
    try {
        lines = ReadLines(AutostartEntryPath());
    } catch (const FileError&) {
        return std::nullopt;
    }
    for (const std::string& line : lines)
        if (line.rfind(kExecKey, 0) == 0)
            return UnescapePercent(std::string_view(line).substr(kExecKey.size()));
    return std::nullopt;
}
