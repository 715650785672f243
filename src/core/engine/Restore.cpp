#include "engine/Restore.h"

#include "engine/BackupLayout.h"
#include "engine/CopyOperation.h"
#include "platform/ShellCopy.h"
#include "sources/Entries.h"
#include "sources/FtpTransfer.h"
#include "storage/OptionString.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <tuple>

struct FoundCopy {
    std::string relativePath;  // "/sub/b.txt" below the listed folder
    std::uint64_t size = 0;
    struct timespec modified {};
};

namespace {
enum class CopyListing { Listed, Missing, Failed };

bool IsWithin(const std::string& path, const std::string& folder) {
    return path == folder || folder == "/" ||
           (path.starts_with(folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash == std::string::npos ? 0 : slash);
}

// A folder (or a link to one) where a file is to be written would take the
// file inside it instead of being replaced.
bool FolderInTheWay(const std::string& target, TransferReporter& reporter) {
    struct stat status {};
    if (stat(target.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return false;
    reporter.ReportError(target, "not restored: a folder is in the way");
    return true;
}
}  // namespace

// Where the copies of one destination lie and how one is fetched. Folders are
// named relative to the backup root ("" is the root itself).
class BackupCopies {
public:
    virtual ~BackupCopies() = default;
    // The files (and links) in folder; below it too with recursive.
    virtual CopyListing List(const std::string& folder, bool recursive, std::vector<FoundCopy>& copies) = 0;
    virtual std::string CopyPath(const std::string& folder, const std::string& relativePath) const = 0;
    virtual std::string DisplayText(const std::string& copyPath) const = 0;
    // Copy times known only to the second.
    virtual bool WholeSecondTimes() const = 0;
    virtual bool Fetch(const RestoreItem& item) = 0;
    // Gives a folder the restore created its copy's mode, owner and times.
    virtual void KeepFolderAttributes(const std::string& copyFolder, const std::string& folder) = 0;
};

namespace {
class LocalBackupCopies : public BackupCopies {
public:
    LocalBackupCopies(std::string root, TransferReporter& reporter)
        : root_(std::move(root)), reporter_(reporter) {}

    CopyListing List(const std::string& folder, bool recursive, std::vector<FoundCopy>& copies) override {
        const std::string path = CopyPath(folder, "");
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0) {
            if (errno == ENOENT) return CopyListing::Missing;
            reporter_.ReportError(path, std::strerror(errno));
            return CopyListing::Failed;
        }
        if (!S_ISDIR(status.st_mode)) {
            reporter_.ReportError(path, "not a folder");
            return CopyListing::Failed;
        }
        return Walk(path, "", recursive, copies) ? CopyListing::Listed : CopyListing::Failed;
    }

    std::string CopyPath(const std::string& folder, const std::string& relativePath) const override {
        return (folder.empty() ? root_ : root_ + "/" + folder) + relativePath;
    }
    std::string DisplayText(const std::string& copyPath) const override { return copyPath; }
    bool WholeSecondTimes() const override { return false; }

    bool Fetch(const RestoreItem& item) override {
        if (FolderInTheWay(item.target, reporter_)) return false;
        CopyOptions options;
        options.followSourceLink = false;
        const CopyOutcome outcome = ShellCopy(item.copyPath, item.target, options, reporter_);
        if (outcome.sourceMissing) reporter_.ReportError(item.copyPath, "the backup copy is gone");
        return !outcome.sourceMissing && outcome.errors == 0 && outcome.filesCopied > 0;
    }

    void KeepFolderAttributes(const std::string& copyFolder, const std::string& folder) override {
        struct stat status {};
        const int restored = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (restored < 0) return;
        if (lstat(copyFolder.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
            KeepAttributes(restored, status);
        close(restored);
    }

private:
    // A folder of the copy that cannot be read is reported; the rest is still
    // listed, so what can be restored is.
    bool Walk(const std::string& folder, const std::string& relative, bool recursive,
              std::vector<FoundCopy>& copies) {
        DIR* directory = opendir(folder.c_str());
        if (directory == nullptr) {
            reporter_.ReportError(folder, std::strerror(errno));
            return !relative.empty();
        }
        std::vector<std::string> subfolders;
        while (const dirent* entry = readdir(directory)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || IsStaleTemporaryName(name)) continue;
            struct stat status {};
            if (fstatat(dirfd(directory), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
                reporter_.ReportError(folder + "/" + name, std::strerror(errno));
                continue;
            }
            if (S_ISDIR(status.st_mode) && recursive) subfolders.push_back(name);
            if (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode))
                copies.push_back(
                    {relative + "/" + name, static_cast<std::uint64_t>(status.st_size), status.st_mtim});
        }
        closedir(directory);
        for (const std::string& name : subfolders)
            Walk(folder + "/" + name, relative + "/" + name, true, copies);
        return true;
    }

    std::string root_;
    TransferReporter& reporter_;
};

class FtpBackupCopies : public BackupCopies {
public:
    FtpBackupCopies(const FtpParameters& ftp, TransferReporter& reporter, const std::string& settingsFolder)
        : ftp_(ftp), reporter_(reporter), session_(&reporter, {}, FtpTimeoutsFromEnvironment()) {
        session_.UsePassiveMode(ftp_.passive);
        session_.UseProtocol(ftp_.protocol, settingsFolder);
    }

    CopyListing List(const std::string& folder, bool recursive, std::vector<FoundCopy>& copies) override {
        const std::string directory = CopyPath(folder, "");
        std::vector<FtpRemoteFile> files;
        switch (FtpListFiles(session_, ftp_.server, ftp_.user, ftp_.password, directory, recursive, files)) {
            case FtpListOutcome::Missing:
                return CopyListing::Missing;
            case FtpListOutcome::Failed:
                reporter_.ReportError(DisplayText(directory), session_.LastError());
                return CopyListing::Failed;
            case FtpListOutcome::Listed:
                break;
        }
        // A server that gives no time makes every existing local file look newer.
        for (const FtpRemoteFile& file : files) {
            copies.push_back({file.relativePath, file.size, {std::max<std::time_t>(file.modified, 0), 0}});
            if (file.mode >= 0) modes_[CopyPath(folder, file.relativePath)] = static_cast<mode_t>(file.mode);
        }
        return CopyListing::Listed;
    }

    std::string CopyPath(const std::string& folder, const std::string& relativePath) const override {
        return (folder.empty() ? ftp_.remoteBaseDirectory : ftp_.remoteBaseDirectory + "/" + folder) +
               relativePath;
    }
    std::string DisplayText(const std::string& copyPath) const override {
        return std::string(SchemeOf(ftp_.protocol)) + ftp_.server + "/" + copyPath;
    }
    bool WholeSecondTimes() const override { return true; }
    // The server keeps no folder attributes worth restoring.
    void KeepFolderAttributes(const std::string&, const std::string&) override {}

    bool Fetch(const RestoreItem& item) override {
        const std::string folder = ParentOf(item.target);
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error) {
            reporter_.ReportError(folder, error.message());
            return false;
        }
        if (FolderInTheWay(item.target, reporter_)) return false;
        if (!FtpDownloadFile(session_, folder, ftp_.server, ftp_.user, ftp_.password, ParentOf(item.copyPath),
                             FileNameOf(item.copyPath))) {
            reporter_.ReportError(item.target,
                                  "download of " + item.backupCopy + " failed: " + session_.LastError());
            return false;
        }
        // A server that does not tell the mode leaves the file private.
        const auto mode = modes_.find(item.copyPath);
        if (mode != modes_.end() && chmod(item.target.c_str(), mode->second) != 0) {
            reporter_.ReportError(item.target, std::string("mode not kept: ") + std::strerror(errno));
            return false;
        }
        const struct timespec times[2] = {item.modified, item.modified};
        if (utimensat(AT_FDCWD, item.target.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
            reporter_.ReportError(item.target,
                                  std::string("modification time not kept: ") + std::strerror(errno));
            return false;
        }
        return true;
    }

private:
    FtpParameters ftp_;
    TransferReporter& reporter_;
    FtpSession session_;
    std::map<std::string, mode_t> modes_;  // by copy path, as the listings told them
};
}  // namespace

class Restorer::CountingReporter : public TransferReporter {
public:
    explicit CountingReporter(TransferReporter& inner) : inner_(inner) {}
    void ReportError(const std::string& path, const std::string& message) override {
        ++count;
        inner_.ReportError(path, message);
    }
    void ReportProgress(const TransferProgress& progress) override { inner_.ReportProgress(progress); }

    std::size_t count = 0;

private:
    TransferReporter& inner_;
};

std::size_t RestorePlan::Count(RestoreAction action) const {
    return static_cast<std::size_t>(std::count_if(
        items.begin(), items.end(), [action](const RestoreItem& item) { return item.action == action; }));
}

std::uint64_t RestorePlan::RestoreSize() const {
    std::uint64_t total = 0;
    for (const RestoreItem& item : items)
        if (item.action == RestoreAction::Restore) total += item.size;
    return total;
}

Restorer::Restorer(const BackupSetup& setup, TransferReporter& reporter, const std::string& settingsFolder)
    : setup_(setup), reporter_(std::make_unique<CountingReporter>(reporter)) {
    if (IsRemoteDestination(setup.destination))
        copies_ = std::make_unique<FtpBackupCopies>(DecodeFtpDestination(setup.destination), *reporter_,
                                                    settingsFolder);
    else
        copies_ = std::make_unique<LocalBackupCopies>(BackupRoot(setup.destination), *reporter_);
}

Restorer::~Restorer() = default;

std::size_t Restorer::FailureCount() const {
    return reporter_->count;
}

RestorePlan Restorer::Plan(const RestoreRequest& request) {
    request_ = request;
    if (!request_.targetFolder.empty()) request_.targetFolder = AbsoluteNormalPath(request_.targetFolder);
    for (std::string& path : request_.limitPaths) path = AbsoluteNormalPath(path);
    plan_ = {};
    exceptions_.clear();
    for (const std::string& entry : setup_.entries)
        if (IsExceptionEntry(entry)) exceptions_.push_back(entry.substr(1));

    std::vector<FoundCopy> rootCopies;
    switch (copies_->List("", false, rootCopies)) {
        case CopyListing::Missing:
            reporter_->ReportError(copies_->DisplayText(copies_->CopyPath("", "")),
                                   "the backup folder does not exist");
            return plan_;
        case CopyListing::Failed:
            return plan_;
        case CopyListing::Listed:
            break;
    }
    for (std::size_t i = 0; i < setup_.entries.size(); ++i) {
        const std::string& entry = setup_.entries[i];
        if (IsExceptionEntry(entry)) continue;
        if (IsFolderEntry(entry))
            PlanFolderEntry(entry, i);
        else
            PlanFileEntry(entry, rootCopies);
    }
    AddUnmatchedLimits();
    return plan_;
}

void Restorer::PlanFileEntry(const std::string& entry, const std::vector<FoundCopy>& rootCopies) {
    if (!InScope(entry) || Excluded(entry)) return;
    const std::string relativePath = "/" + FileNameOf(entry);
    const auto found = std::find_if(rootCopies.begin(), rootCopies.end(),
                                    [&](const FoundCopy& copy) { return copy.relativePath == relativePath; });
    if (found == rootCopies.end()) return AddMissing(entry, copies_->CopyPath("", relativePath));
    AddCopy(entry, copies_->CopyPath("", relativePath), *found, "");
}

void Restorer::PlanFolderEntry(const std::string& entry, std::size_t index) {
    const std::string folder = entry.substr(0, entry.size() - 4);
    if (!TouchesScope(folder) || IsFolderExcluded(exceptions_, folder)) return;
    const std::string folderName =
        EntryFolderName(entry, index, OptionIsOne(setup_.optionFlags, Option::kIndexNames));
    std::vector<FoundCopy> found;
    switch (copies_->List(folderName, true, found)) {
        case CopyListing::Missing:
            return AddMissing(folder, copies_->CopyPath(folderName, ""));
        case CopyListing::Failed:
            return;
        case CopyListing::Listed:
            break;
    }
    std::sort(found.begin(), found.end(),
              [](const FoundCopy& a, const FoundCopy& b) { return a.relativePath < b.relativePath; });
    for (const FoundCopy& copy : found) {
        const std::string original = folder + copy.relativePath;
        if (InScope(original) && !Excluded(original))
            AddCopy(original, copies_->CopyPath(folderName, copy.relativePath), copy,
                    copies_->CopyPath(folderName, ""));
    }
}

std::string Restorer::TargetFor(const std::string& original, bool throughLink) const {
    const std::string& folder = request_.targetFolder;
    if (!folder.empty()) return folder == "/" ? original : folder + original;
    // A file entry that is a link was backed up through it: its copy goes back
    // where the link points, and the link stays.
    if (!throughLink) return original;
    std::error_code error;
    const std::filesystem::path linked = std::filesystem::canonical(original, error);
    return error ? original : linked.string();
}

void Restorer::AddCopy(std::string original, std::string copyPath, const FoundCopy& copy,
                       std::string copyFolder) {
    const struct timespec& modified = copy.modified;
    RestoreItem item;
    item.target = TargetFor(original, copyFolder.empty());
    item.original = std::move(original);
    item.backupCopy = copies_->DisplayText(copyPath);
    item.copyPath = std::move(copyPath);
    item.copyFolder = std::move(copyFolder);
    item.size = copy.size;
    item.modified = modified;
    struct stat local {};
    if (!request_.overwriteNewer && lstat(item.target.c_str(), &local) == 0 && !S_ISDIR(local.st_mode)) {
        const bool newer = copies_->WholeSecondTimes()
                               ? local.st_mtim.tv_sec > modified.tv_sec
                               : std::tie(local.st_mtim.tv_sec, local.st_mtim.tv_nsec) >
                                     std::tie(modified.tv_sec, modified.tv_nsec);
        if (newer) item.action = RestoreAction::SkipNewer;
    }
    plan_.items.push_back(std::move(item));
}

void Restorer::AddMissing(std::string original, std::string copyPath) {
    RestoreItem item;
    item.target = TargetFor(original, false);
    item.original = std::move(original);
    item.backupCopy = copyPath.empty() ? std::string() : copies_->DisplayText(copyPath);
    item.copyPath = std::move(copyPath);
    item.action = RestoreAction::Missing;
    plan_.items.push_back(std::move(item));
}

// A path the user asked for of which the destination holds nothing.
void Restorer::AddUnmatchedLimits() {
    for (const std::string& limit : request_.limitPaths) {
        const bool matched =
            std::any_of(plan_.items.begin(), plan_.items.end(), [&](const RestoreItem& item) {
                return IsWithin(item.original, limit) || IsWithin(limit, item.original);
            });
        if (!matched) AddMissing(limit, "");
    }
}

bool Restorer::InScope(const std::string& original) const {
    const auto& limits = request_.limitPaths;
    return limits.empty() || std::any_of(limits.begin(), limits.end(),
                                         [&](const std::string& limit) { return IsWithin(original, limit); });
}

bool Restorer::TouchesScope(const std::string& folder) const {
    const auto& limits = request_.limitPaths;
    return limits.empty() || std::any_of(limits.begin(), limits.end(), [&](const std::string& limit) {
               return IsWithin(folder, limit) || IsWithin(limit, folder);
           });
}

bool Restorer::Excluded(const std::string& original) const {
    return IsExcluded(exceptions_, original);
}

std::uint64_t Restorer::CarryOut(const RestorePlan& plan,
                                 const std::function<void(const RestoreItem&)>& restored) {
    std::uint64_t bytes = 0;
    // Folders missing now, by depth, each with the copy it corresponds to.
    std::map<std::string, std::string, std::greater<>> createdFolders;
    for (const RestoreItem& item : plan.items) {
        if (item.action != RestoreAction::Restore) continue;
        NoteMissingFolders(item, createdFolders);
        if (!copies_->Fetch(item)) continue;
        bytes += item.size;
        if (restored) restored(item);
    }
    // Deepest first: setting a folder's times must follow the changes inside it.
    for (const auto& [folder, copyFolder] : createdFolders) copies_->KeepFolderAttributes(copyFolder, folder);
    return bytes;
}

void Restorer::NoteMissingFolders(const RestoreItem& item,
                                  std::map<std::string, std::string, std::greater<>>& folders) {
    if (item.copyFolder.empty()) return;
    std::string folder = ParentOf(item.target);
    std::string copyFolder = ParentOf(item.copyPath);
    struct stat status {};
    while (IsWithin(copyFolder, item.copyFolder) && lstat(folder.c_str(), &status) != 0 && errno == ENOENT) {
        folders.emplace(folder, copyFolder);
        if (copyFolder == item.copyFolder) break;
        folder = ParentOf(folder);
        copyFolder = ParentOf(copyFolder);
    }
}

std::string AbsoluteNormalPath(const std::string& path) {
    std::error_code error;
    std::string normal = std::filesystem::absolute(path, error).lexically_normal().string();
    if (error) normal = std::filesystem::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}
