#include "faults/FaultScenario.h"

#include "storage/BackupSetup.h"
#include "storage/FirstStart.h"
#include "storage/ProjectFile.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

namespace fs = std::filesystem;

namespace {
constexpr std::string_view kLogHeader = "Tarnwick Backup History File\r\n=============================\r\n";
// 2021-01-01: far enough back that a copy made now never shares its minute.
constexpr std::int64_t kPastEpochSeconds = 1'609'459'200;

std::vector<std::string> SplitCrLfLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(bytes.substr(start, end - start));
    lines.push_back(bytes.substr(start));
    return lines;
}

bool IsProgramTemporary(const std::string& name) {
    return ::fnmatch(".*.part-*", name.c_str(), FNM_PERIOD) == 0 ||
           ::fnmatch(".*.tmp*", name.c_str(), FNM_PERIOD) == 0;
}

struct TreeItem {
    fs::file_type type;
    std::string content;
    timespec modified;
};

std::map<std::string, TreeItem> ReadTree(const std::string& root) {
    std::map<std::string, TreeItem> items;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (IsProgramTemporary(entry.path().filename().string())) continue;
        struct stat status {};
        ::lstat(entry.path().c_str(), &status);
        TreeItem item{entry.symlink_status().type(), {}, {}};
        if (item.type == fs::file_type::regular) {
            item.content = ReadTestFile(entry.path().string());
            item.modified = status.st_mtim;
        }
        items.emplace(fs::relative(entry.path(), root).string(), std::move(item));
    }
    return items;
}

std::string RandomBytes(std::mt19937& random, std::size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xff);
    return bytes;
}
}  // namespace

FaultScenario::FaultScenario(std::string backupParent)
    : backupParent_(std::move(backupParent)), settings_(BinFolder()), texts_(BinFolder()) {
    settings_.ResolveSettingsFile();
    texts_.Load();
    defaultProject_ = ProvisionDefaultProject(settings_);
    projectPath_ = home.path() + "/project.tarn";
    destination_ = BackupRoot() + "/...";
    SetMode(Mode::Full);
}

void FaultScenario::SetEntries(const std::vector<std::string>& entries) {
    BackupSetup setup;
    setup.destination = destination_;
    setup.entries = entries;
    setup.interval = 45;
    setup.minutesRemaining = 7;
    WriteProject(projectPath_, setup);
    entryLine_.clear();
    for (const std::string& entry : entries) entryLine_ += entry + "*";
}

void FaultScenario::SetMode(Mode mode) {
    options_ = mode == Mode::Incremental ? "100010000000000" : "000010000000000";
    settings_.SetSetting("Options", options_);
}

std::string FaultScenario::FolderCopy(const std::string& folder) const {
    std::string name = folder;
    std::replace(name.begin(), name.end(), '/', '_');
    return BackupRoot() + "/" + name;
}

std::string FaultScenario::LastRunLog() const {
    const std::string log = LogText();
    const std::size_t separator = log.rfind("\r\n-------------------\r\n");
    return separator == std::string::npos ? log : log.substr(separator);
}

std::string FaultScenario::WhyProjectNotWhole() const {
    std::vector<std::string> lines = SplitCrLfLines(ReadTestFile(projectPath_));
    // A line end after the entries would still load the same.
    if (lines.size() == 9 && lines.back().empty()) lines.pop_back();
    if (lines.size() != 8) return "the project has " + std::to_string(lines.size()) + " lines, not 8";
    if (lines[0] != kProjectHeader) return "the project header reads \"" + lines[0] + "\"";
    if (lines[3] != destination_) return "the destination reads \"" + lines[3] + "\"";
    if (lines[4] != "45") return "the interval reads \"" + lines[4] + "\"";
    if (lines[7] != entryLine_) return "the entries read \"" + lines[7] + "\"";
    return "";
}

std::string FaultScenario::WhySettingsNotWhole() const {
    const std::string bytes = ReadTestFile(settings_.SettingsFile());
    if (!bytes.starts_with("Product ID\r\n") || !bytes.ends_with("\r\n"))
        return "the settings file is not whole: " + std::to_string(bytes.size()) + " bytes";
    if (settings_.GetSetting("Options") != options_)
        return "the options read \"" + settings_.GetSetting("Options") + "\"";
    if (settings_.GetSetting("Path") != defaultProject_) return "the default project setting changed";
    return "";
}

std::string FaultScenario::WhyLogNotWhole() const {
    const std::string bytes = LogText();
    if (!bytes.starts_with(kLogHeader)) return "the log lost its header";
    if (!bytes.ends_with("\r\n")) return "the log ends in half a line: " + bytes.substr(bytes.size() - 40);
    return "";
}

std::vector<std::string> MakeSmallFileTree(const std::string& root, int fileCount, std::mt19937& random) {
    // Names of several scripts and a long one, so per-path costs and byte
    // handling are both exercised.
    static const std::vector<std::string> kFolderNames = {
        "Projekte",
        "Fotos Sommer",
        "données",
        "καλοκαίρι",
        "a folder with a rather long name that keeps going on and on",
        "x"};
    std::vector<std::string> files;
    files.reserve(static_cast<std::size_t>(fileCount));
    for (int i = 0; i < fileCount; ++i) {
        std::string relative;
        for (int level = 0, depth = 1 + static_cast<int>(random() % 4); level < depth; ++level)
            relative += kFolderNames[random() % kFolderNames.size()] + std::to_string(random() % 3) + "/";
        relative += "file " + std::to_string(i) + (i % 7 == 0 ? " ünïcödé.txt" : ".dat");
        const std::string path = root + "/" + relative;
        WriteTestFile(path, RandomBytes(random, random() % 3000));
        SetModificationSeconds(path, kPastEpochSeconds + static_cast<std::int64_t>(random() % 86'400));
        files.push_back(relative);
    }
    return files;
}

void RewriteFile(const std::string& path, std::mt19937& random, int generation) {
    WriteTestFile(path, RandomBytes(random, random() % 3000));
    SetModificationSeconds(
        path, kPastEpochSeconds + 86'400 + generation * 3'600 + static_cast<std::int64_t>(random() % 60));
}

void SetModificationSeconds(const std::string& path, std::int64_t secondsSinceEpoch) {
    const timespec times[2] = {{secondsSinceEpoch, 0}, {secondsSinceEpoch, 123'456'789}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("cannot set the time of " + path);
}

std::vector<std::string> TreeDifferences(const std::string& expected, const std::string& actual,
                                         std::size_t limit) {
    std::vector<std::string> differences;
    const auto add = [&](std::string line) {
        if (differences.size() < limit) differences.push_back(std::move(line));
    };
    if (!fs::is_directory(actual)) return {actual + " is missing"};
    const std::map<std::string, TreeItem> want = ReadTree(expected);
    const std::map<std::string, TreeItem> have = ReadTree(actual);
    for (const auto& [name, item] : want) {
        const auto found = have.find(name);
        if (found == have.end()) {
            add("missing: " + name);
        } else if (found->second.type != item.type) {
            add("other type: " + name);
        } else if (found->second.content != item.content) {
            add("other content: " + name + " (" + std::to_string(found->second.content.size()) +
                " bytes, not " + std::to_string(item.content.size()) + ")");
        } else if (item.type == fs::file_type::regular &&
                   (found->second.modified.tv_sec != item.modified.tv_sec ||
                    found->second.modified.tv_nsec != item.modified.tv_nsec)) {
            add("other modification time: " + name);
        }
    }
    for (const auto& [name, item] : have)
        if (!want.contains(name)) add("not in the source: " + name);
    return differences;
}

std::vector<std::string> ProgramTemporaries(const std::string& folder, bool recursive) {
    std::vector<std::string> found;
    const auto check = [&](const fs::directory_entry& entry) {
        if (IsProgramTemporary(entry.path().filename().string())) found.push_back(entry.path().string());
    };
    if (!fs::is_directory(folder)) return found;
    if (recursive)
        for (const auto& entry : fs::recursive_directory_iterator(folder)) check(entry);
    else
        for (const auto& entry : fs::directory_iterator(folder)) check(entry);
    return found;
}

bool HoldsCopyOf(const std::string& folder, const std::string& name) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().filename().string().find(name) != std::string::npos) return true;
    return false;
}

void WaitUntilFolderHoldsAnything(const std::string& folder) {
    const auto holdsAnything = [&] {
        std::error_code error;
        return fs::directory_iterator(folder, error) != fs::directory_iterator();
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!holdsAnything() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}

std::string JoinForMessage(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n  ") + line;
    return text;
}
