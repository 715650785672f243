#include "engine/CopyOperation.h"

#include "engine/CopyBesideTheWindow.h"
#include "engine/ProgressTracking.h"
#include "engine/SideThread.h"
#include "platform/ShellCopy.h"
#include "storage/HistoryLog.h"
#include "storage/OptionString.h"
#include "util/Descriptor.h"
#include "util/FileError.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
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
// outside the folder is read through them and a link loop ends. `name` is
// looked up in the folder of `folderDescriptor` (or as a path with AT_FDCWD).
EntryType TypeOf(int folderDescriptor, const char* name, unsigned char directoryEntryType) {
    if (directoryEntryType == DT_REG || directoryEntryType == DT_LNK) return EntryType::Found;
    if (directoryEntryType == DT_DIR) return EntryType::Folder;
    struct stat status {};
    if (directoryEntryType != DT_UNKNOWN ||
        ::fstatat(folderDescriptor, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return EntryType::Other;
    if (S_ISDIR(status.st_mode)) return EntryType::Folder;
    return S_ISREG(status.st_mode) || S_ISLNK(status.st_mode) ? EntryType::Found : EntryType::Other;
}

struct FolderItem {
    std::string name;
    unsigned char type;
};

// A subfolder is opened without following a link that took its place since
// it was listed; the entry's own folder is followed.
int OpenWalkedFolder(const std::string& folder, bool followLink) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    return ::open(folder.empty() ? "/" : folder.c_str(), flags);
}

// Every name of an open folder but "." and ".."; the descriptor stays open.
// On failure errno says why.
std::optional<std::vector<FolderItem>> ListOpenFolder(int descriptor) {
    const int listing = ::dup(descriptor);
    DIR* directory = listing < 0 ? nullptr : ::fdopendir(listing);
    if (directory == nullptr) {
        const int error = errno;
        if (listing >= 0) ::close(listing);
        errno = error;
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

// The whole listing is read before any recursion, so a deep tree never holds
// more than one folder open.
std::optional<std::vector<FolderItem>> ListFolder(const std::string& folder, bool followLink) {
    const int descriptor = OpenWalkedFolder(folder, followLink);
    if (descriptor < 0) return std::nullopt;
    std::optional<std::vector<FolderItem>> items = ListOpenFolder(descriptor);
    const int error = errno;
    ::close(descriptor);
    errno = error;
    return items;
}

void ReportUnlistableFolder(BackupContext& context, const std::string& folder, bool entryFolder, int error) {
    if (entryFolder && error == ENOENT)
        context.reporter.ReportError(folder, kMissingFolder);
    else if (!entryFolder && (error == ENOENT || error == ELOOP || error == ENOTDIR))
        context.reporter.ReportError(folder, "vanished or replaced while the backup ran; not backed up");
    else
        context.reporter.ReportError(folder, std::string(std::strerror(error)) + "; not backed up");
}

void ReportOtherKind(BackupContext& context, const std::string& path) {
    // Pipes, sockets and devices have no content to back up.
    context.reporter.ReportError(path, "not a regular file, folder or link; not backed up");
}

// The counting status line on every 100th found file; the next refresh keeps it.
void ShowFoundCount(BackupContext& context, std::size_t count) {
    if (count % kCountingStep != 0) return;
    context.window.SetStatusLine(context.texts.GetText(TextId::FilesFoundPrefix) + " " +
                                 std::to_string(count));
    context.run.countdownText = context.window.StatusLine();
}

void WalkFolderPath(BackupContext& context, const std::string& folder, bool entryFolder) {
    const std::optional<std::vector<FolderItem>> items = ListFolder(folder, entryFolder);
    if (!items) return ReportUnlistableFolder(context, folder, entryFolder, errno);
    for (const FolderItem& item : *items) {
        context.window.PumpMessages();
        std::string path = folder + "/" + item.name;
        switch (TypeOf(AT_FDCWD, path.c_str(), item.type)) {
            case EntryType::Folder:
                WalkFolderPath(context, path, false);
                break;
            case EntryType::Found:
                context.run.foundFiles.push_back(std::move(path));
                ShowProgressText(context, context.run.foundFiles.back(), ProgressMode::Counting);
                break;
            case EntryType::Other:
                ReportOtherKind(context, path);
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
    // Stop and closing the window reach the copy of a whole folder between two files.
    options.stopRequested = [&run] { return run.cancelRequested; };
    context.window.PumpMessages();
    const std::string savedStatus = context.window.StatusLine();
    ShowProgressText(context, source, ProgressMode::Copying);
    // Always reported: the reports keep the window alive during a large file
    // and the run's progress current; option position 2 only decides whether
    // the progress is shown.
    options.showProgress = true;
    run.progress.BeginOperation();
    const CopyOutcome outcome =
        CopyBesideTheWindow(source, destination, options, context.reporter, context.window);
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

namespace {
// The copy of a file that differs from its copy; counted and logged only when
// it was made. True when the copy facility ran (folders may have changed).
// `copyFolder`: the destination's folder when the caller holds it open, else -1.
bool CopyDiffering(BackupContext& context, const std::string& source, const std::string& destination,
                   SourceRole role, BackupTarget* target, const ModificationStatus& copy,
                   int copyFolder = -1) {
    CopyOptions copyOptions;
    copyOptions.followSourceLink = role == SourceRole::Entry;
    copyOptions.target = target;
    copyOptions.destinationFolder = copyFolder;
    copyOptions.replacesCopy = copy.exists;
    const CopyResult result = CopyItem(context, source, destination, copyOptions);
    if (result.status == CopyStatus::Missing) ReportUnavailable(context, source, role, ENOENT);
    if (result.status != CopyStatus::Copied) return false;
    if (result.outcome.filesCopied == 0) return true;  // its failure is reported
    ++context.run.copiedCount;
    context.run.byteTotal += result.outcome.bytesCopied;
    LogCopiedFile(context, destination);
    return true;
}
}  // namespace

void CopyIfChanged(BackupContext& context, const std::string& source, const std::string& destination,
                   RecentFolders& folders, SourceRole role) {
    const ModificationStatus sourceStatus = folders.SourceStatus(source, role == SourceRole::Entry);
    if (!sourceStatus.exists) {
        if (!context.run.cancelRequested) ReportUnavailable(context, source, role, sourceStatus.error);
        return;
    }
    const ModificationStatus copy = folders.DestinationStatus(destination);
    if (SameCopy(sourceStatus, copy)) return SettleFile(context, source, sourceStatus.size);
    if (CopyDiffering(context, source, destination, role, folders.Target(), copy)) folders.Forget();
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

namespace {
// The copy folder at `path` entered from the target's root without following
// links; -1 when it is missing, blocked or outside the target.
int EnterCopyFolder(BackupTarget& target, const std::string& path) {
    std::string reason;
    return target.Holds(path) ? target.OpenFolder(path, false, reason) : -1;
}

// The copy folder matching the source folder at hand, entered from its copy
// folder above or the target's root, never through a link. It is listed once,
// at the first copy found missing: from then on a copy the listing lacks needs
// no lookup (a folder of new files costs one listing, a folder of current
// copies none). Missing or blocked, every copy in it counts as missing (the
// copy makes the folder or reports what is in the way).
class ListedCopyFolder {
public:
    explicit ListedCopyFolder(BackupTarget& target) : target_(target) {}
    ListedCopyFolder(const ListedCopyFolder&) = delete;
    ListedCopyFolder& operator=(const ListedCopyFolder&) = delete;
    ~ListedCopyFolder() { Close(); }

    // Takes over `descriptor` (-1: the copy folder is missing or blocked).
    void Adopt(int descriptor) {
        Close();
        descriptor_ = descriptor;
    }

    void Open(const std::string& path) { Adopt(EnterCopyFolder(target_, path)); }

    bool IsOpen() const { return descriptor_ >= 0; }
    int Descriptor() const { return descriptor_; }

    ModificationStatus StatusOf(const char* name) {
        if (descriptor_ < 0 || (listed_ && !std::binary_search(names_.begin(), names_.end(), name)))
            return Unavailable(ENOENT);
        ModificationStatus status = ::StatusOf(name, false, descriptor_);
        if (!status.exists && status.error == ENOENT && !listingTried_) List();
        return status;
    }

    void Close() {
        if (descriptor_ >= 0) ::close(descriptor_);
        descriptor_ = -1;
        listed_ = listingTried_ = false;
        names_.clear();
    }

private:
    // Unlistable, each copy is looked up by itself.
    void List() {
        listingTried_ = true;
        std::optional<std::vector<FolderItem>> items = ListOpenFolder(descriptor_);
        if (!items) return;
        names_.reserve(items->size());
        for (FolderItem& item : *items) names_.push_back(std::move(item.name));
        std::sort(names_.begin(), names_.end());
        listed_ = true;
    }

    BackupTarget& target_;
    int descriptor_ = -1;
    bool listed_ = false;
    bool listingTried_ = false;
    std::vector<std::string> names_;
};

// The changed-file copy of one folder entry, folder by folder. Each folder's
// entries are found first (one pump each, after the entry is noted, as the
// walk does), then its files are compared, then its subfolders follow; only
// the subfolder names of the folders above stay in memory.
class ChangedTreeCopy {
public:
    ChangedTreeCopy(BackupContext& context, BackupTarget& target)
        : context_(context), target_(target), copyFolder_(target) {}

    // `copyParent`: the copy folder of the folder above, open, or -1 (the
    // copy folder is then entered from the target's root).
    void CopyFolder(const std::string& source, const std::string& copy, bool entryFolder, int copyParent = -1,
                    int depth = 0) {
        const int descriptor = OpenWalkedFolder(source, entryFolder);
        std::optional<std::vector<FolderItem>> items;
        if (descriptor >= 0) items = ListOpenFolder(descriptor);
        struct stat sourceStatus {};
        if (!items || ::fstat(descriptor, &sourceStatus) != 0) {
            const int error = errno;
            if (descriptor >= 0) ::close(descriptor);
            return ReportUnlistableFolder(context_, source, entryFolder, error);
        }
        const std::vector<std::string> subfolders = FindItems(descriptor, source, *items);
        items.reset();
        Descriptor copyFolder(OpenCopyFolder(copyParent, copy));
        if (CompareFoundFiles(descriptor, source, copy, copyFolder.get()) && !copyFolder.valid())
            copyFolder = Descriptor(OpenCopyFolder(-1, copy));
        ::close(descriptor);
        context_.window.Refresh();
        // Open copy folders are handed down, so none is walked to from the root
        // again; past a depth that could use up the descriptors, they are not.
        const int handedDown = depth < kHandedDownDepth ? copyFolder.get() : -1;
        for (const std::string& name : subfolders) {
            if (context_.run.cancelRequested) return;
            CopyFolder(source + "/" + name, copy + "/" + name, false, handedDown, depth + 1);
        }
        // Its content is in: a folder the copies made or wrote into takes its
        // source's attributes now, while it is open anyway.
        if (copyFolder.valid() && target_.TakeTouchedFolder(copy))
            KeepAttributes(copyFolder.get(), sourceStatus);
    }

private:
    // Found files go to run.foundFiles (this folder's only); subfolder names are returned.
    std::vector<std::string> FindItems(int descriptor, const std::string& source,
                                       std::vector<FolderItem>& items) {
        std::vector<std::string>& found = context_.run.foundFiles;
        found.clear();
        std::vector<std::string> subfolders;
        for (FolderItem& item : items) {
            switch (TypeOf(descriptor, item.name.c_str(), item.type)) {
                case EntryType::Folder:
                    subfolders.push_back(std::move(item.name));
                    break;
                case EntryType::Found:
                    found.push_back(source + "/" + item.name);
                    ShowFoundCount(context_, ++foundCount_);
                    break;
                case EntryType::Other:
                    ReportOtherKind(context_, source + "/" + item.name);
                    break;
            }
            context_.window.PumpMessages();
        }
        return subfolders;
    }

    // Each file is looked up by name in the open source folder and in the
    // listed copy folder, a batch at a time: the copies' statuses are read on a
    // thread beside the one reading the sources', since nearly all of an
    // unchanged tree's time is these two lookups per file. A copy writes only
    // the copy of its own name, so statuses read before it stay true; a copy
    // folder that was missing may have been made by it, so that one is
    // entered again. True when a copy was made (the copy folder may exist now).
    bool CompareFoundFiles(int descriptor, const std::string& source, const std::string& copy,
                           int copyFolder) {
        RunState& run = context_.run;
        if (run.foundFiles.empty()) return false;
        const std::size_t nameStart = source.size() + 1;
        bool copied = false;
        copyFolder_.Adopt(copyFolder >= 0 ? ::fcntl(copyFolder, F_DUPFD_CLOEXEC, 0) : -1);
        std::vector<ModificationStatus> sourceStatuses;
        for (std::size_t first = 0; first < run.foundFiles.size() && !run.cancelRequested; first += kBatch) {
            const std::size_t end = std::min(run.foundFiles.size(), first + kBatch);
            ReadStatuses(descriptor, nameStart, first, end, sourceStatuses);
            for (std::size_t index = first; index < end; ++index) {
                if (run.cancelRequested) break;
                const std::string& file = run.foundFiles[index];
                const ModificationStatus& sourceStatus = sourceStatuses[index - first];
                const ModificationStatus& copyStatus = copyStatuses_[index - first];
                ++run.scannedCount;
                if (!sourceStatus.exists) {
                    if (!run.cancelRequested)
                        ReportUnavailable(context_, file, SourceRole::FoundInFolder, sourceStatus.error);
                    SettleFile(context_, file, 0);
                    continue;
                }
                if (SameCopy(sourceStatus, copyStatus)) {
                    SettleFile(context_, file, sourceStatus.size);
                    continue;
                }
                if (!CopyDiffering(context_, file, copy + "/" + (file.c_str() + nameStart),
                                   SourceRole::FoundInFolder, &target_, copyStatus, copyFolder_.Descriptor()))
                    continue;
                copied = true;
                if (!copyFolder_.IsOpen()) copyFolder_.Open(copy);
            }
        }
        copyFolder_.Close();
        return copied;
    }

    // The copy folder at `copy`, entered from `parent` (its folder above) when
    // that is open, else from the target's root, never through a link; -1
    // when it is missing or blocked.
    int OpenCopyFolder(int parent, const std::string& copy) {
        if (parent < 0) return EnterCopyFolder(target_, copy);
        const char* name = copy.c_str() + copy.rfind('/') + 1;
        return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }

    // The statuses of found files [first, end): the sources' here, the copies'
    // (into copyStatuses_) beside, unless the batch is too small to share.
    void ReadStatuses(int descriptor, std::size_t nameStart, std::size_t first, std::size_t end,
                      std::vector<ModificationStatus>& sourceStatuses) {
        const std::vector<std::string>& files = context_.run.foundFiles;
        const auto readCopies = [this, &files, nameStart, first, end] {
            copyStatuses_.clear();
            for (std::size_t index = first; index < end; ++index)
                copyStatuses_.push_back(copyFolder_.StatusOf(files[index].c_str() + nameStart));
        };
        const bool beside = end - first >= kSharedBatch;
        if (beside) side_.Start(readCopies);
        sourceStatuses.clear();
        for (std::size_t index = first; index < end; ++index)
            // A path no plain lookup can take is no file the copy can read either.
            sourceStatuses.push_back(files[index].size() >= PATH_MAX
                                         ? Unavailable(ENAMETOOLONG)
                                         : StatusOf(files[index].c_str() + nameStart, false, descriptor));
        if (beside)
            side_.Wait();
        else
            readCopies();
    }

    // Files per batch: few enough that a stop is seen soon, enough to keep
    // the hand-over between the threads cheap.
    static constexpr std::size_t kBatch = 512;
    static constexpr std::size_t kSharedBatch = 8;
    static constexpr int kHandedDownDepth = 64;

    BackupContext& context_;
    BackupTarget& target_;
    ListedCopyFolder copyFolder_;
    std::vector<ModificationStatus> copyStatuses_;
    std::size_t foundCount_ = 0;
    // Last: it ends (after its job) before what its jobs use.
    SideThread side_;
};
}  // namespace

void CopyChangedFiles(BackupContext& context, const std::string& folderEntry, const std::string& targetFolder,
                      BackupTarget& target) {
    if (folderEntry.size() < 4) return;
    ChangedTreeCopy(context, target)
        .CopyFolder(folderEntry.substr(0, folderEntry.size() - 4), targetFolder, true);
    std::vector<std::string>().swap(context.run.foundFiles);
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
    ShowFoundCount(context, context.run.foundFiles.size());
}
