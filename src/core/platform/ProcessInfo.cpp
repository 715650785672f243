#include "platform/ProcessInfo.h"

#include <unistd.h>
#include <climits>
#include <filesystem>
#include <system_error>

namespace {
std::string& RecordedCommandLine() {
    static std::string commandLine;
    return commandLine;
}

std::string QuoteArgument(std::string_view argument) {
    const bool needsQuotes = argument.empty() || argument.find_first_of(" \t") != std::string_view::npos;
    if (!needsQuotes) return std::string(argument);
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}
}  // namespace

std::string ExecutablePath() {
    std::string buffer(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0) return {};
    buffer.resize(static_cast<std::size_t>(length));
    return buffer;
}

std::string ExecutableFolder() {
    const std::string executable = ExecutablePath();
    const std::size_t slash = executable.rfind('/');
    return slash == std::string::npos ? std::string() : executable.substr(0, slash);
}

std::string ProgramDataFolder(const std::string& executableFolder) {
    const std::filesystem::path installed =
        (std::filesystem::path(executableFolder) / TARNWICK_DATA_FROM_BIN).lexically_normal();
    std::error_code ignored;
    if (!executableFolder.empty() && std::filesystem::is_directory(installed, ignored)) {
        std::string folder = installed.string();
        if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        return folder;
    }
    return executableFolder;
}

std::string ProgramFolder() {
    return ProgramDataFolder(ExecutableFolder());
}

void RecordCommandLine(int argc, const char* const argv[]) {
    std::string commandLine;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) commandLine += ' ';
        commandLine += QuoteArgument(argv[i] != nullptr ? argv[i] : "");
    }
    RecordedCommandLine() = std::move(commandLine);
}

const std::string& CommandLineText() {
    return RecordedCommandLine();
}

bool IsStartedAutomatically(std::string_view commandLine) {
    return commandLine.size() > 1 && commandLine.find("%1", 1) != std::string_view::npos;
}
