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
#include <cstring>
#include <ctime>
#include <optional>

namespace {
constexpr std::size_t kProgressPathLimit = 80;
constexpr std::size_t kCountingStep = 100;
constexpr const char* kMissingFolder = "the folder does not exist; nothing backed up";

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

std::string LinkTextAt(int folderDescriptor, const char* path, std::size_t size) {
    std::string text(size + 1, '\0');
    const ssize_t length = ::readlinkat(folderDescriptor, path, text.data(), text.size());
    text.resize(length < 0 ? 0 : static_cast<std::size_t>(length));
    return text;
}

ModificationStatus Unavailable(int error) {
    ModificationStatus status;
    status.error = error;
    return status;
}

// A plain lookup, not the wildcard status query: names may hold "*" and "?".
ModificationStatus StatusOf(const char* path, bool followLink, int folderDescriptor = AT_FDCWD) {
    struct stat status {};
    if (::fstatat(folderDescriptor, path, &status, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return Unavailable(errno);
    ModificationStatus result;
    result.exists = true;
    result.modificationTime = status.st_mtime;
    result.size = static_cast<std::uint64_t>(status.st_size);
    if (S_ISLNK(status.st_mode)) {
        result.isLink = true;
        result.linkText = LinkTextAt(folderDescriptor, path, result.size);
    }
    return result;
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

enum class EntryType { Found, Folder, Other };

// Links are found items of their own and never looked through, so nothing
// outside the folder is read through them and a link loop ends.
EntryType TypeOf(const std::string& path, unsigned char directoryEntryType) {
    if (directoryEntryType == DT_REG || directoryEntryType == DT_LNK) return EntryType::Found;
    if (directoryEntryType == DT_DIR) return EntryType::Folder;
    struct stat status {};
    if (directoryEntryType != DT_UNKNOWN || ::lstat(path.c_str(), &status) != 0) return EntryType::Other;
    if (S_ISDIR(status.st_mode)) return EntryType::Folder;
    return S_ISREG(status.st_mode) || S_ISLNK(status.st_mode) ? EntryType::Found : EntryType::Other;
}

struct FolderItem {
    std::string name;
    unsigned char type;
};

// The whole listing is read before any recursion, so a deep tree never holds
// more than one folder open. A subfolder is opened without following a link
// that took its place since it was listed; the entry's own folder is followed.
std::optional<std::vector<FolderItem>> ListFolder(const std::string& folder, bool followLink) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    const int descriptor = ::open(folder.empty() ? "/" : folder.c_str(), flags);
    DIR* directory = descriptor < 0 ? nullptr : ::fdopendir(descriptor);
    if (directory == nullptr) {
        if (descriptor >= 0) ::close(descriptor);
        return std::nullopt;
    }
    std::vector<FolderItem> items;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        items.push_back({std::string(name), entry->d_type});
    }
    ::closedir(directory);
    return items;
}

void WalkFolderPath(BackupContext& context, const std::string& folder, bool entryFolder) {
    const std::optional<std::vector<FolderItem>> items = ListFolder(folder, entryFolder);
    if (!items) {
        const int error = errno;
        if (entryFolder && error == ENOENT)
            context.reporter.ReportError(folder, kMissingFolder);
        else if (!entryFolder && (error == ENOENT || error == ELOOP || error == ENOTDIR))
            context.reporter.ReportError(folder, "vanished or replaced while the backup ran; not backed up");
        else
            context.reporter.ReportError(folder, std::string(std::strerror(error)) + "; not backed up");
        return;
    }
    for (const FolderItem& item : *items) {
        context.window.PumpMessages();
        std::string path = folder + "/" + item.name;
        switch (TypeOf(path, item.type)) {
            case EntryType::Folder:
                WalkFolderPath(context, path, false);
                break;
            case EntryType::Found:
                context.run.foundFiles.push_back(std::move(path));
                ShowProgressText(context, context.run.foundFiles.back(), ProgressMode::Counting);
                break;
            case EntryType::Other:
                // Pipes, sockets and devices have no content to back up.
                context.reporter.ReportError(path, "not a regular file, folder or link; not backed up");
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

bool IsFolderExcluded(const std::vector<std::string>& exceptions, std::string_view folderPath) {
    for (const std::string& exception : exceptions) {
        if (!exception.ends_with("/...")) continue;
        const std::string_view folder = std::string_view(exception).substr(0, exception.size() - 3);
        const bool isTheFolder = folderPath.size() + 1 == folder.size() && folder.starts_with(folderPath);
        if (isTheFolder || folderPath.starts_with(folder)) return true;
    }
    return false;
}

CopyResult CopyItem(BackupContext& context, std::string source, std::string destination,
                    CopyOptions options) {
    RunState& run = context.run;
    if (run.cancelRequested) return {CopyStatus::Cancelled, {}};
    source = CollapseDoubledSeparators(source);
    destination = CollapseDoubledSeparators(destination);
    if (IsExcluded(run.exceptions, source) || run.cancelRequested) return {CopyStatus::Excluded, {}};
    if (!run.exceptions.empty())
        options.holdsBack = [&exceptions = run.exceptions](const std::string& path, bool isFolder) {
            return isFolder ? IsFolderExcluded(exceptions, path) : IsExcluded(exceptions, path);
        };
    context.window.PumpMessages();
    const std::string savedStatus = context.window.StatusLine();
    ShowProgressText(context, source, ProgressMode::Copying);
    const CopyOutcome outcome = ShellCopy(source, destination, options, context.reporter);
    context.window.PumpMessages();
    context.window.SetStatusLine(savedStatus);
    return {outcome.sourceMissing ? CopyStatus::Missing : CopyStatus::Copied, outcome};
}

bool SameCopy(const ModificationStatus& source, const ModificationStatus& copy) {
    return copy.exists && copy.isLink == source.isLink &&
           SameLocalMinute(source.modificationTime, copy.modificationTime) &&
           copy.linkText == source.linkText;
}

void ReportMissingSource(BackupContext& context, const std::string& path, int error) {
    if (error == ENOENT)
        context.reporter.ReportError(path,
                                     "does not exist (renamed, deleted or a dangling link); not backed up");
    else
        context.reporter.ReportError(path, std::string(std::strerror(error)) + "; not backed up");
}

void RecentFolders::Forget() {
    Close(source_);
    Close(destination_);
}

void RecentFolders::Close(Folder& folder) {
    if (folder.descriptor >= 0) ::close(folder.descriptor);
    folder.descriptor = -1;
}

void ReportMissingFolder(BackupContext& context, std::string_view folderEntry) {
    const std::string folder(folderEntry.substr(0, folderEntry.size() >= 4 ? folderEntry.size() - 4 : 0));
    context.reporter.ReportError(folder, kMissingFolder);
}

namespace {
// A file the walk found and that is gone now was deleted while the run went on.
void ReportUnavailable(BackupContext& context, const std::string& source, SourceRole role, int error) {
    if (role == SourceRole::FoundInFolder && error == ENOENT)
        context.reporter.ReportError(source, "vanished while the backup ran; not copied");
    else
        ReportMissingSource(context, source, error);
}
}  // namespace

ModificationStatus RecentFolders::StatusThrough(Folder& folder, const std::string& path, bool followLink,
                                                BackupTarget* target) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size() || path.size() >= PATH_MAX)
        return StatusOf(path.c_str(), followLink);
    const std::string_view folderPath =
        slash == 0 ? std::string_view("/") : std::string_view(path).substr(0, slash);
    if (folder.descriptor < 0 || folder.path != folderPath) {
        Close(folder);
        folder.path = folderPath;
        if (target != nullptr && target->Holds(folder.path)) {
            std::string reason;
            folder.descriptor = target->OpenFolder(folder.path, false, reason);
            // Missing or blocked: the copy makes the folder or reports what is in the way.
            if (folder.descriptor < 0) return Unavailable(ENOENT);
        } else {
            folder.descriptor = ::open(folder.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            // Not remembered: a missing folder may be made by the next copy.
            if (folder.descriptor < 0) return StatusOf(path.c_str(), followLink);
        }
    }
    return StatusOf(path.c_str() + slash + 1, followLink, folder.descriptor);
}

void CopyIfChanged(BackupContext& context, const std::string& source, const std::string& destination,
                   BackupTarget* target) {
    RecentFolders folders(target);
    CopyIfChanged(context, source, destination, folders, SourceRole::Entry);
}

void CopyIfChanged(BackupContext& context, const std::string& source, const std::string& destination,
                   RecentFolders& folders, SourceRole role) {
    const bool followLink = role == SourceRole::Entry;
    const ModificationStatus sourceStatus = folders.SourceStatus(source, followLink);
    if (!sourceStatus.exists) {
        if (!context.run.cancelRequested) ReportUnavailable(context, source, role, sourceStatus.error);
        return;
    }
    if (SameCopy(sourceStatus, folders.DestinationStatus(destination))) return;

    const std::string& options = context.setup.optionFlags;
    CopyOptions copyOptions;
    copyOptions.showProgress =
        options.size() > Option::kNoCopyAnimation && options[Option::kNoCopyAnimation] == '0';
    copyOptions.followSourceLink = followLink;
    copyOptions.target = folders.Target();
    const CopyResult result = CopyItem(context, source, destination, copyOptions);
    if (result.status == CopyStatus::Missing) ReportUnavailable(context, source, role, ENOENT);
    if (result.status != CopyStatus::Copied) return;
    folders.Forget();
    if (result.outcome.filesCopied == 0) return;  // its failure is reported
    ++context.run.copiedCount;
    context.run.byteTotal += result.outcome.bytesCopied;
    LogCopiedFile(context, destination);
}

void KeepTouchedFolderAttributes(BackupTarget& target, const std::string& sourceFolder,
                                 const std::string& targetFolder) {
    for (const std::string& folder : target.TakeTouchedFolders()) {
        const bool entryFolder = folder == targetFolder;
        if (!entryFolder && !(folder.starts_with(targetFolder) && folder[targetFolder.size()] == '/'))
            continue;
        const std::string source = sourceFolder + folder.substr(targetFolder.size());
        // The entry's own folder is followed like the entry; folders inside are not.
        struct stat status {};
        const int found = entryFolder ? ::stat(source.c_str(), &status) : ::lstat(source.c_str(), &status);
        if (found != 0 || !S_ISDIR(status.st_mode)) continue;
        std::string reason;
        const int copy = target.OpenFolder(folder, false, reason);
        if (copy < 0) continue;
        KeepAttributes(copy, status);
        ::close(copy);
    }
}

void WalkFolder(BackupContext& context, const std::string& folderEntry) {
    if (folderEntry.size() < 4) return;
    WalkFolderPath(context, folderEntry.substr(0, folderEntry.size() - 4), true);
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
