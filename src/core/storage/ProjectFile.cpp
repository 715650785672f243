#include "storage/ProjectFile.h"

#include "platform/ShellCopy.h"
#include "platform/TransferReporter.h"
#include "platform/XdgFolders.h"
#include "util/FileError.h"
#include "util/LenientNumbers.h"
#include "util/TextFile.h"

#include <sys/stat.h>
#include <cerrno>
#include <cstring>

namespace {
constexpr std::string_view kFirstStartMarker = "FirstStart";
constexpr std::string_view kProjectRule = "========================";
constexpr std::string_view kLineEnd = "\r\n";
constexpr char kEntryTerminator = '*';
constexpr mode_t kProjectFileMode = 0600;

// Lines of a project's bytes; accepts CR LF and LF. A missing line reads empty.
class LineReader {
public:
    explicit LineReader(std::string_view bytes) : rest_(bytes) {}

    bool AtEnd() const { return rest_.empty(); }

    std::string_view Next() {
        const std::size_t lineFeed = rest_.find('\n');
        if (lineFeed == std::string_view::npos) {
            const std::string_view line = rest_;
            rest_ = {};
            return line;
        }
        std::string_view line = rest_.substr(0, lineFeed);
        if (line.ends_with('\r')) line.remove_suffix(1);
        rest_.remove_prefix(lineFeed + 1);
        return line;
    }

private:
    std::string_view rest_;
};

// Every entry ends in "*". Text after the last "*" is kept as one more entry,
// so nothing on the line is lost. An empty entry ("**", a lone "*") names
// nothing and is dropped.
std::vector<std::string> SplitEntryLine(std::string_view line) {
    std::vector<std::string> entries;
    while (!line.empty()) {
        const std::size_t star = line.find(kEntryTerminator);
        const std::string_view entry = line.substr(0, star);
        if (!entry.empty()) entries.emplace_back(entry);
        if (star == std::string_view::npos) break;
        line.remove_prefix(star + 1);
    }
    return entries;
}

// The lines before minutes remaining: header, rule, blank line, destination,
// interval.
constexpr int kLinesBeforeRunState = 5;
constexpr int kLinesBeforeEntries = 7;

// The layout holds one entry line; anything after it would be dropped by a
// rewrite.
bool HoldsTextAfterTheEntryLine(std::string_view bytes) {
    LineReader lines(bytes);
    for (int line = 0; line <= kLinesBeforeEntries; ++line) lines.Next();
    while (!lines.AtEnd())
        if (lines.Next().find_first_not_of('\r') != std::string_view::npos) return true;
    return false;
}

// Takes one line with its line end off the front of rest; a last line without
// one gets CR LF.
std::string TakeLine(std::string_view& rest) {
    const std::size_t lineFeed = rest.find('\n');
    if (lineFeed == std::string_view::npos) {
        std::string line(rest);
        line += kLineEnd;
        rest = {};
        return line;
    }
    std::string line(rest.substr(0, lineFeed + 1));
    rest.remove_prefix(lineFeed + 1);
    return line;
}

void SplitIntervalIntoBoxes(BackupSetup& setup) {
    setup.daysText = FormatNumber(setup.interval / 1440);
    setup.hoursText = FormatNumber((setup.interval % 1440) / 60);
    setup.minutesText = FormatNumber(setup.interval % 60);
}

// A template project gets a per-user destination on its first load.
std::string ResolveFirstStartDestination() {
    const std::string folder = ShellFolderPath("Personal").value_or("") + "/Tarnwick Backup Folder";
    ::mkdir(folder.c_str(), 0777);  // one level; an existing folder is fine
    return folder + "/...";
}

// False when nothing is at the path; a folder there throws.
bool ProjectFileExists(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        throw FileError(path, std::strerror(errno));
    }
    if (S_ISDIR(status.st_mode)) throw FileError(path, "is a folder, not a project file");
    return true;
}

// Only what would break the file's layout is refused here; the commands that
// take text from the user refuse more (see WhyEntryNotStorable), but a project
// loaded with a stray CR must still be written back as it was read.
void CheckStorable(const std::string& path, const BackupSetup& setup) {
    const auto holdsLineFeed = [](std::string_view text) {
        return text.find('\n') != std::string_view::npos;
    };
    if (holdsLineFeed(setup.destination)) throw FileError(path, "the backup folder cannot hold a line break");
    if (holdsLineFeed(setup.lastRun))
        throw FileError(path, "the time of the last run cannot hold a line break");
    for (const std::string& entry : setup.entries) {
        if (entry.find(kEntryTerminator) != std::string::npos || holdsLineFeed(entry))
            throw FileError(path, "an entry cannot hold \"*\" or a line break: " + entry);
    }
}

class CollectingReporter : public TransferReporter {
public:
    void ReportError(const std::string& path, const std::string& message) override {
        if (firstError.empty()) firstError = path + ": " + message;
    }
    void ReportProgress(const TransferProgress&) override {}
    std::string firstError;
};
}  // namespace

namespace {
std::string ProjectBytes(const std::string& path, const BackupSetup& setup) {
    CheckStorable(path, setup);
    std::size_t entryBytes = 0;
    for (const std::string& entry : setup.entries) entryBytes += entry.size() + 1;

    std::string bytes;
    bytes.reserve(128 + setup.destination.size() + setup.lastRun.size() + entryBytes);
    for (std::string_view line : {kProjectHeader, kProjectRule, std::string_view()}) {
        bytes += line;
        bytes += kLineEnd;
    }
    for (const std::string& line : {setup.destination, FormatNumber(setup.interval),
                                    FormatNumber(setup.minutesRemaining), setup.lastRun}) {
        bytes += line;
        bytes += kLineEnd;
    }
    for (const std::string& entry : setup.entries) {
        bytes += entry;
        bytes += kEntryTerminator;
    }
    return bytes;
}

bool StartsWithHeader(LineReader& lines) {
    return !lines.AtEnd() && lines.Next() == kProjectHeader;
}
}  // namespace

void WriteProject(const std::string& path, const BackupSetup& setup) {
    WriteFileAtomically(path, ProjectBytes(path, setup), kProjectFileMode);
}

ProjectLoad ReadProject(const std::string& path, BackupSetup& setup) {
    if (!ProjectFileExists(path)) return ProjectLoad::Missing;
    const std::string bytes = ReadSmallRegularFile(path);
    LineReader lines(bytes);
    if (!StartsWithHeader(lines)) return ProjectLoad::NotAProject;
    lines.Next();
    lines.Next();

    BackupSetup loaded = setup;
    loaded.destination = lines.Next();
    if (loaded.destination == kFirstStartMarker) loaded.destination = ResolveFirstStartDestination();
    loaded.interval = ParseLenientDecimal(lines.Next());
    SplitIntervalIntoBoxes(loaded);
    loaded.minutesRemaining = ParseLenientDecimal(lines.Next());
    loaded.lastRun = lines.Next();
    loaded.entries = SplitEntryLine(lines.Next());
    setup = std::move(loaded);
    return ProjectLoad::Loaded;
}

void WriteBackNormalised(const std::string& path, const BackupSetup& setup) {
    const std::string normalised = ProjectBytes(path, setup);
    const std::string current = ReadSmallRegularFile(path);
    if (HoldsTextAfterTheEntryLine(current)) return;
    struct stat status {};
    const bool modeIsNormal =
        ::stat(path.c_str(), &status) == 0 && (status.st_mode & 07777 & ~kProjectFileMode) == 0;
    if (current == normalised && modeIsNormal) return;
    WriteFileAtomically(path, normalised, kProjectFileMode);
}

ProjectLoad LoadProject(const std::string& path, BackupSetup& setup) {
    const ProjectLoad result = ReadProject(path, setup);
    if (result == ProjectLoad::Loaded) WriteBackNormalised(path, setup);
    return result;
}

ProjectLoad OpenProject(const std::string& path, BackupSetup& setup) {
    BackupSetup opened = setup;
    const ProjectLoad result = ReadProject(path, opened);
    if (result == ProjectLoad::NotAProject) return result;
    if (result == ProjectLoad::Loaded) WriteBackNormalised(path, opened);
    setup = std::move(opened);
    setup.currentProjectFile = path;
    return result;
}

void SaveRunStateToProject(const std::string& path, std::int32_t minutesRemaining,
                           const std::string& lastRun) {
    if (lastRun.find_first_of("\r\n") != std::string::npos)
        throw FileError(path, "the time of the last run cannot hold a line break");
    const std::string bytes = ReadSmallRegularFile(path);
    LineReader header(bytes);
    if (!StartsWithHeader(header))
        throw FileError(path, "is no longer a project file; the time of the last run was not saved");

    std::string_view rest = bytes;
    std::string updated;
    updated.reserve(bytes.size() + 64);
    for (int line = 0; line < kLinesBeforeRunState; ++line) updated += TakeLine(rest);
    TakeLine(rest);
    TakeLine(rest);
    updated += FormatNumber(minutesRemaining);
    updated += kLineEnd;
    updated += lastRun;
    updated += kLineEnd;
    updated += rest;
    WriteFileAtomically(path, updated, kProjectFileMode);
}

void SaveProjectAs(PowerClass& settings, const std::string& chosenPath) {
    const std::string defaultProject = settings.GetSetting("Path");
    if (!PowerClass::FileExists(defaultProject))
        throw FileError(defaultProject.empty() ? chosenPath : defaultProject,
                        "the default project file does not exist, so nothing was saved");
    struct stat source {
    }, target{};
    const bool sameFile = ::stat(defaultProject.c_str(), &source) == 0 &&
                          ::stat(chosenPath.c_str(), &target) == 0 && source.st_dev == target.st_dev &&
                          source.st_ino == target.st_ino;
    if (sameFile) return;
    CollectingReporter reporter;
    ShellCopy(defaultProject, chosenPath, false, reporter);
    if (!reporter.firstError.empty()) throw FileError(chosenPath, reporter.firstError);
}

std::optional<std::string> WhyEntryNotStorable(std::string_view entry) {
    if (entry.find(kEntryTerminator) != std::string_view::npos) return "an entry cannot hold \"*\"";
    if (entry.find_first_of("\r\n") != std::string_view::npos) return "an entry cannot hold a line break";
    return std::nullopt;
}

std::optional<std::string> WhyDestinationNotStorable(std::string_view destination) {
    if (destination.find_first_of("\r\n") != std::string_view::npos)
        return "the backup folder cannot hold a line break";
    return std::nullopt;
}
