#include "storage/PowerClass.h"

#include "platform/AutostartEntry.h"
#include "platform/ProcessInfo.h"
#include "platform/ShellCopy.h"
#include "platform/SystemLanguage.h"
#include "platform/XdgFolders.h"
#include "storage/OptionString.h"
#include "storage/SilentTransferReporter.h"
#include "util/FileError.h"
#include "util/FileStatus.h"
#include "util/TextFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

namespace {

constexpr std::string_view kSettingsFileName = "/config.ini";

// The registry keys the program uses, and what stands in for them on Linux.
constexpr std::string_view kShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr std::string_view kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kLanguageKey = "SYSTEM\\CurrentControlSet\\Control\\Nls\\Language";
constexpr std::string_view kRunValue = "Backup";
constexpr std::string_view kLanguageValue = "Default";
constexpr int kCurrentUserSelector = 1;
constexpr int kLocalMachineSelector = 2;
constexpr int kCurrentUserRoot = 1;

// Registry key and value names ignore case, and either separator is accepted.
bool SameRegistryName(std::string_view a, std::string_view b) {
    auto normalised = [](char c) {
        return c == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return normalised(x) == normalised(y); });
}

// A folder that may already exist; a failure shows later, when the file in it is
// missing.
void CreateFolderQuietly(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
}

// "Product ID" and "Version" name one folder level each.
bool IsSingleFolderName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::string JoinCrLfLines(const std::vector<std::string>& lines) {
    std::size_t total = 0;
    for (const std::string& line : lines) total += line.size() + 2;
    std::string bytes;
    bytes.reserve(total);
    for (const std::string& line : lines) {
        bytes += line;
        bytes += "\r\n";
    }
    return bytes;
}

}  // namespace

PowerClass::PowerClass() : PowerClass(::ProgramFolder()) {}

PowerClass::PowerClass(std::string programFolder) : programFolder_(std::move(programFolder)) {}

std::string PowerClass::ResolveSettingsFile() {
    const std::string templateFile = programFolder_ + std::string(kSettingsFileName);
    // Until a per-user file is in place, every read comes from the template.
    settingsFile_ = templateFile;
    settingsFolder_ = programFolder_;

    const std::string appData = ReadRegistryString(0, "AppData");
    if (appData.empty()) return settingsFile_;

    std::string productId;
    std::string version;
    try {
        productId = GetSetting("Product ID");
        version = GetSetting("Version");
    } catch (const FileError&) {
        // No template: every later access reports the missing file by name.
        return settingsFile_;
    }
    if (!IsSingleFolderName(productId) || !IsSingleFolderName(version)) return settingsFile_;

    const std::string folder = appData + "/Tarnwick/" + productId + "/" + version;
    const std::string userFile = folder + std::string(kSettingsFileName);
    if (!FileExists(userFile)) {
        CreateFolderQuietly(folder);
        SilentTransferReporter silent;
        ShellCopy(templateFile, folder, false, silent);
        if (!FileExists(userFile)) return settingsFile_;
    }
    settingsFile_ = userFile;
    settingsFolder_ = folder;
    return settingsFile_;
}

std::string PowerClass::EffectiveSettingsFile() const {
    return settingsFile_.empty() ? programFolder_ + std::string(kSettingsFileName) : settingsFile_;
}

namespace {
std::vector<std::string> ReadSettingsLines(const std::string& path) {
    return SplitLines(ReadSmallRegularFile(path));
}

}  // namespace

std::string PowerClass::GetSetting(std::string_view key) const {
    const std::vector<std::string> lines = ReadSettingsLines(EffectiveSettingsFile());
    std::string value;
    // A key's value line is consumed with it, so a value that happens to equal a
    // key is never taken for one. The last occurrence wins.
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != key) continue;
        value = i + 1 < lines.size() ? lines[i + 1] : std::string();
        ++i;
    }
    return value;
}

bool PowerClass::HasSetting(std::string_view key) const {
    const std::vector<std::string> lines = ReadSettingsLines(EffectiveSettingsFile());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != key) continue;
        if (i + 1 < lines.size()) return true;
        ++i;
    }
    return false;
}

void PowerClass::SetSetting(std::string_view key, std::string_view value) {
    if (value.find_first_of("\r\n") != std::string_view::npos)
        throw std::invalid_argument("A setting cannot hold a line break: " + std::string(key));

    const std::string path = EffectiveSettingsFile();
    std::vector<std::string> lines = ReadSettingsLines(path);
    std::vector<std::size_t> valueLines;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != key) continue;
        if (i + 1 >= lines.size())
            throw std::invalid_argument("The setting " + std::string(key) + " has no value line in " + path);
        valueLines.push_back(++i);
    }
    // The program never adds a key; an unknown one leaves the file as it is.
    if (valueLines.empty()) return;
    for (std::size_t index : valueLines) lines[index] = value;
    WriteFileAtomically(path, JoinCrLfLines(lines));
}

std::string PowerClass::GetOptions(std::optional<FileError>* writeBackFailure) {
    const std::string stored = GetSetting("Options");
    if (stored.size() == Option::kLength) return stored;
    // A longer value is cut, not shifted: the options dialog reads and writes
    // fixed positions.
    std::string normalised = CompleteOptionString(stored.substr(0, Option::kLength));
    // Writing the normalised value back spares every later reader; when it cannot
    // be stored (read-only template, full disk, key without value line) the value
    // still serves this reader.
    try {
        SetSetting("Options", normalised);
    } catch (const FileError& error) {
        if (writeBackFailure != nullptr) *writeBackFailure = error;
    } catch (const std::invalid_argument&) {
    }
    return normalised;
}

bool PowerClass::FileExists(const std::string& path) {
    try {
        return QueryFileStatus(path).has_value();
    } catch (...) {
        return false;
    }
}

std::string PowerClass::ReadRegistryString(int selector, std::string_view valueName) const {
    if (selector == 0 ||
        (selector == kCurrentUserSelector && SameRegistryName(registryKeyPath_, kShellFoldersKey)))
        return ShellFolderPath(valueName).value_or(std::string());

    if (selector != kCurrentUserSelector && selector != kLocalMachineSelector) return std::string();
    if (registryKeyPath_.empty()) return "Registry key was not found :-( ";

    if (selector == kLocalMachineSelector && SameRegistryName(registryKeyPath_, kLanguageKey) &&
        SameRegistryName(valueName, kLanguageValue))
        return SystemLanguageIdHex();
    if (selector == kCurrentUserSelector && SameRegistryName(registryKeyPath_, kRunKey) &&
        SameRegistryName(valueName, kRunValue))
        return ReadAutostartCommand().value_or(std::string());
    // Keys and values without a counterpart read like missing ones.
    return std::string();
}

// A failure to write or delete the autostart entry is not swallowed: the user
// would otherwise believe the program starts with the session when it does not.
void PowerClass::SetRegistryString(std::string_view valueName, std::string_view data) {
    if (SameRegistryName(registryKeyPath_, kRunKey) && SameRegistryName(valueName, kRunValue))
        WriteAutostartEntry(std::string(data));
}

void PowerClass::DeleteRegistryValue(int root, std::string_view valueName) {
    if (root == kCurrentUserRoot && SameRegistryName(registryKeyPath_, kRunKey) &&
        SameRegistryName(valueName, kRunValue))
        DeleteAutostartEntry();
}
