#include "engine/CopyOperation.h"

#include "platform/ShellCopy.h"
#include "storage/HistoryLog.h"
#include "storage/OptionString.h"
#include "util/FileError.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <climits>
#include <ctime>

namespace {
constexpr std::size_t kProgressPathLimit = 80;
constexpr std::size_t kCountingStep = 100;

// Byte offsets at which the UTF-8 characters of text begin; a byte that does
// not fit a sequence is a character of its own, so any bytes can be shown.
std::vector<std::size_t> CharacterStarts(std::string_view text) {
    std::vector<std::size_t> starts;
    starts.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        starts.push_back(i);
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead >= 0xF0 && lead < 0xF8 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        std::size_t next = i + 1;
        while (next < i + length && next < text.size() &&
               (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80)
            ++next;
        i = next;
    }
    return starts;
}

// A plain stat, not the wildcard status query: names may hold "*" and "?".
ModificationStatus StatusOf(const char* path, int folderDescriptor = AT_FDCWD) {
    struct stat status {};
    if (::fstatat(folderDescriptor, path, &status, 0) != 0) return {};
    return {true, status.st_mtime, static_cast<std::uint64_t>(status.st_size)};
}

bool SameLocalMinute(std::time_t first, std::time_t second) {
    if (first == second) return true;
    std::tm a{}, b{};
    if (::localtime_r(&first, &a) == nullptr || ::localtime_r(&second, &b) == nullptr) return false;
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
           a.tm_hour == b.tm_hour && a.tm_min == b.tm_min;
}

void LogCopiedFile(BackupContext& context, const std::string& destination) {
    if (!OptionIsOne(context.setup.optionFlags, Option::kWriteLog)) return;
    try {
        AppendToHistory(HistoryLogPath(context.settingsFolder, context.programFolder),
                        context.texts.GetText(TextId::LogCopiedFile) + " " + destination);
    } catch (const FileError& error) {
        context.run.failures.push_back(error.what());
    }
}

enum class EntryType { File, Folder, Other };

// Links are looked through to tell a file from a folder; a link to a folder
// reads as Other so that it is never followed.
EntryType TypeOf(const std::string& path, unsigned char directoryEntryType) {
    if (directoryEntryType == DT_REG) return EntryType::File;
    if (directoryEntryType == DT_DIR) return EntryType::Folder;
    struct stat status {};
    if (directoryEntryType == DT_UNKNOWN) {
        if (::lstat(path.c_str(), &status) != 0) return EntryType::Other;
        if (S_ISDIR(status.st_mode)) return EntryType::Folder;
        if (S_ISREG(status.st_mode)) return EntryType::File;
        if (!S_ISLNK(status.st_mode)) return EntryType::Other;
    } else if (directoryEntryType != DT_LNK) {
        return EntryType::Other;  // pipes, sockets, devices cannot be backed up
    }
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) ? EntryType::File : EntryType::Other;
}

struct FolderItem {
    std::string name;
    unsigned char type;
};

// The whole listing is read before any recursion, so a deep tree never holds
// more than one folder open.
std::vector<FolderItem> ListFolder(const std::string& folder) {
    std::vector<FolderItem> items;
    DIR* directory = ::opendir(folder.empty() ? "/" : folder.c_str());
    if (directory == nullptr) return items;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        items.push_back({std::string(name), entry->d_type});
    }
    ::closedir(directory);
    return items;
}

void WalkFolderPath(BackupContext& context, const std::string& folder) {
    for (const FolderItem& item : ListFolder(folder)) {
        context.window.PumpMessages();
        std::string path = folder + "/" + item.name;
        switch (TypeOf(path, item.type)) {
            case EntryType::Folder:
                WalkFolderPath(context, path);
                break;
            case EntryType::File:
                context.run.foundFiles.push_back(std::move(path));
                ShowProgressText(context, context.run.foundFiles.back(), ProgressMode::Counting);
                break;
            case EntryType::Other:
                break;
        }
    }
    context.window.Refresh();
}
}  // namespace

std::string CollapseDoubledSeparators(std::string_view path) {
    std::string collapsed;
    collapsed.reserve(path.size());
    for (std::size_t i = 0; i < path.size(); ++i) {
        collapsed += path[i];
        if (path[i] == '/' && i + 1 < path.size() && path[i + 1] == '/') ++i;
    }
    return collapsed;
}

bool IsExcluded(const std::vector<std::string>& exceptions, std::string_view source) {
    bool excluded = false;
    for (const std::string& exception : exceptions) {
        if (source == exception) excluded = true;
        if (exception.ends_with("...")) {
            const std::string_view folder = std::string_view(exception).substr(0, exception.size() - 3);
            if (folder.size() < source.size() && source.starts_with(folder)) excluded = true;
        }
    }
    return excluded;
}

CopyResult CopyItem(BackupContext& context, std::string source, std::string destination, bool showProgress) {
    RunState& run = context.run;
    if (run.cancelRequested) return CopyResult::Cancelled;
    source = CollapseDoubledSeparators(source);
    destination = CollapseDoubledSeparators(destination);
    if (IsExcluded(run.exceptions, source) || run.cancelRequested) {
        --run.copiedCount;
        return CopyResult::Excluded;
    }
    context.window.PumpMessages();
    const std::string savedStatus = context.window.StatusLine();
    ShowProgressText(context, source, ProgressMode::Copying);
    ShellCopy(source, destination, showProgress, context.reporter);
    context.window.PumpMessages();
    context.window.SetStatusLine(savedStatus);
    return CopyResult::Copied;
}

void RecentFolders::Forget() {
    Close(source_);
    Close(destination_);
}

void RecentFolders::Close(Folder& folder) {
    if (folder.descriptor >= 0) ::close(folder.descriptor);
    folder.descriptor = -1;
}

ModificationStatus RecentFolders::StatusThrough(Folder& folder, const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size() || path.size() >= PATH_MAX)
        return StatusOf(path.c_str());
    const std::string_view folderPath =
        slash == 0 ? std::string_view("/") : std::string_view(path).substr(0, slash);
    if (folder.descriptor < 0 || folder.path != folderPath) {
        Close(folder);
        folder.path = folderPath;
        folder.descriptor = ::open(folder.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        // Not remembered: a missing folder may be made by the next copy.
        if (folder.descriptor < 0) return StatusOf(path.c_str());
    }
    return StatusOf(path.c_str() + slash + 1, folder.descriptor);
}

void CopyIfChanged(BackupContext& context, const std::string& source, const std::string& destination) {
    RecentFolders folders;
    CopyIfChanged(context, source, destination, folders);
}

void CopyIfChanged(BackupContext& context, const std::string& source, const std::string& destination,
                   RecentFolders& folders) {
    const ModificationStatus sourceStatus = folders.SourceStatus(source);
    if (!sourceStatus.exists) return;  // nothing to copy, nothing to count
    const ModificationStatus destinationStatus = folders.DestinationStatus(destination);
    if (destinationStatus.exists &&
        SameLocalMinute(sourceStatus.modificationTime, destinationStatus.modificationTime))
        return;

    const std::string& options = context.setup.optionFlags;
    const bool showProgress =
        options.size() > Option::kNoCopyAnimation && options[Option::kNoCopyAnimation] == '0';
    switch (CopyItem(context, source, destination, showProgress)) {
        case CopyResult::Cancelled:
            return;
        case CopyResult::Excluded:
            ++context.run.copiedCount;  // undoes the copy operation's -1
            return;
        case CopyResult::Copied:
            folders.Forget();
            ++context.run.copiedCount;
            context.run.byteTotal += sourceStatus.size;
            LogCopiedFile(context, destination);
            return;
    }
}

void WalkFolder(BackupContext& context, const std::string& folderEntry) {
    if (folderEntry.size() < 4) return;
    WalkFolderPath(context, folderEntry.substr(0, folderEntry.size() - 4));
}

void ShowProgressText(BackupContext& context, const std::string& path, ProgressMode mode) {
    if (mode == ProgressMode::Copying) {
        const std::string prefix = context.texts.GetText(TextId::CopyingPrefix);
        const std::vector<std::size_t> starts = CharacterStarts(path);
        if (starts.size() >= kProgressPathLimit)
            context.window.SetStatusLine(prefix + " ..." +
                                         path.substr(starts[starts.size() - kProgressPathLimit]));
        else
            context.window.SetStatusLine(prefix + " " + path);
        return;
    }
    const std::size_t count = context.run.foundFiles.size();
    if (count % kCountingStep != 0) return;
    context.window.SetStatusLine(context.texts.GetText(TextId::FilesFoundPrefix) + " " +
                                 std::to_string(count));
    context.run.countdownText = context.window.StatusLine();
}
