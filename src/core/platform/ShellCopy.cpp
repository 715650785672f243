#include "platform/ShellCopy.h"

#include "platform/FileCopyPool.h"
#include "platform/FileDataCopy.h"
#include "util/Descriptor.h"
#include "util/FileStatus.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string_view>

namespace {
constexpr std::int64_t kProgressIntervalNs = 25'000'000;
// Files above this size are copied in several chunks and announce themselves;
// smaller ones move in one go, so they can be copied on another thread without
// losing any progress report, and these are the files whose copy is mostly
// the kernel's work per file rather than moving data.
constexpr std::uint64_t kLargeFile = 4 * 1024 * 1024;

std::string Join(const std::string& folder, std::string_view name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path;
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string LastComponent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool MatchesPattern(const std::string& pattern, const char* name) {
    return pattern == "*.*" || pattern == "*" || ::fnmatch(pattern.c_str(), name, 0) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Owner and group are kept where the run may set them: as root, or for the
// running user's own files. Returns whether they were kept.
template <typename Chown>
bool KeepOwner(const struct stat& source, Chown chown) {
    const uid_t runningUser = ::geteuid();
    if (runningUser != 0 && source.st_uid != runningUser) return false;
    return chown(source.st_uid, source.st_gid) == 0;
}

// A copy that belongs to someone else than the source's owner must never run
// with that someone's rights.
mode_t CopyMode(const struct stat& source, bool ownerKept) {
    mode_t mode = source.st_mode & 07777;
    if (!ownerKept) mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    return mode;
}

const char* const kNotCopiable = "not a regular file, folder or link; not copied";
const char* const kLinkInTheWay = "a link stands where a folder of the backup must be; not followed";
const char* const kVanished = "vanished while the backup ran; not copied";

// An entry deleted while the copy runs is not backed up: said so in words
// of its own, since it is no fault of the disk.
std::string FailureText(int error) {
    return error == ENOENT ? kVanished : std::strerror(error);
}

std::string WriteFailureText(int error) {
    if (error == EISDIR || error == ENOTEMPTY || error == EEXIST)
        return "a folder stands where the file must be written";
    return std::strerror(error);
}

// An open folder of the walk. `path` is only used for messages; `fresh` says the
// folder was created by this copy, so no killed run left anything in it.
struct OpenFolder {
    int fd;
    const std::string& path;
    bool fresh = false;
};

// One regular file's copy: what the walk hands out, and what copying it found.
// Both folders stay open until the copy is finished.
struct FileCopy {
    enum class Stage {
        Waiting,
        Unreadable,        // opening or examining the source failed (error)
        NotCopiable,       // not a regular file
        Opened,            // a large file whose data the walking thread copies
        TemporaryRefused,  // no file to write could be created (error)
        WriteFailed,       // moving the data or naming the copy failed (error)
        Copied,
    };

    // `name` empty: the source folder's path is the file itself (a copy of a
    // single file, whose link, if it is one, is followed); the target folder's
    // path is then the target file.
    FileCopy(const OpenFolder& sourceFolder, std::string name, const OpenFolder& targetFolder,
             std::string targetName)
        : sourceFolder(sourceFolder),
          name(std::move(name)),
          targetFolder(targetFolder),
          targetName(std::move(targetName)) {}

    // Path texts are only put together for messages and progress.
    std::string SourcePath() const {
        return name.empty() ? sourceFolder.path : Join(sourceFolder.path, name);
    }
    std::string TargetPath() const {
        return name.empty() ? targetFolder.path : Join(targetFolder.path, targetName);
    }
    std::uint64_t Size() const { return static_cast<std::uint64_t>(status.st_size); }

    const OpenFolder sourceFolder;
    const std::string name;
    const OpenFolder targetFolder;
    const std::string targetName;

    Descriptor source;
    struct stat status {};
    Stage stage = Stage::Waiting;
    int error = 0;
};

// One copy operation: walks the source with descriptors relative to their folder
// (no path lookups per file). A file appears under its name only once it is
// whole, so an older copy stays until the new one replaces it.
class TreeCopier : public DataCopyObserver {
public:
    TreeCopier(const CopyOptions& options, TransferReporter& reporter)
        : options_(options),
          reporter_(reporter),
          temporaryPrefix_(".part-" + std::to_string(::getpid()) + "-") {}

    const CopyOutcome& Outcome() const { return outcome_; }

    // The entries of `folder` matching `pattern` (all of them when null) into
    // `destination`. The copy of a whole folder is that folder's copy and takes
    // its attributes: private stays private.
    void CopyFolderInto(const std::string& folder, const std::string& destination,
                        const std::string* pattern) {
        Descriptor source(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!source.valid()) return ReportErrno(folder);
        struct stat status {};
        if (::fstat(source.get(), &status) != 0) return ReportErrno(folder);
        bool fresh = false;
        Descriptor target = OpenTargetRoot(destination, fresh);
        if (!target.valid() || IsTargetRoot(status)) return;
        CopyFolderContents(source.Release(), folder, {target.get(), destination, fresh}, pattern);
        if (pattern == nullptr || *pattern == "*.*" || *pattern == "*") KeepAttributes(target.get(), status);
    }

    void CopyFile(const std::string& file, const std::string& destination, bool isLink) {
        const std::string folder = ParentFolder(destination);
        Descriptor target;
        if (options_.target != nullptr) {
            std::string reason;
            target = Descriptor(options_.destinationFolder >= 0
                                    ? options_.target->ReopenFolder(options_.destinationFolder, folder)
                                    : options_.target->OpenFolder(folder, true, reason));
            if (!target.valid()) return ReportError(folder, reason.empty() ? std::strerror(errno) : reason);
        } else {
            std::error_code error;
            std::filesystem::create_directories(folder, error);
            target = Descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!target.valid()) return ReportErrno(destination);
        }
        SweepStaleTemporaries({target.get(), folder});
        const OpenFolder targetFolder{target.get(), destination};
        if (!isLink) {
            FileCopy copy({AT_FDCWD, file}, "", targetFolder, LastComponent(destination));
            StartCopy(copy);
            return FinishCopy(copy, false);
        }
        // A link found inside a folder is copied as the link it is.
        const std::string sourceFolderPath = ParentFolder(file);
        Descriptor sourceFolder(::open(sourceFolderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!sourceFolder.valid()) return ReportErrnoOrVanished(file);
        CopyLink({sourceFolder.get(), sourceFolderPath}, LastComponent(file).c_str(), {target.get(), folder},
                 LastComponent(destination));
    }

    // The final counts of the operation, once at its end.
    void ReportEnd() {
        if (!options_.showProgress || filesStarted_ == 0) return;
        progress_.filesDone = filesStarted_;
        progress_.fileBytesDone = progress_.fileBytesTotal;
        progress_.bytesDone = bytesBeforeFile_;
        reporter_.ReportProgress(progress_);
    }

    void ChunkCopied(std::uint64_t fileBytesDone) override {
        progress_.fileBytesDone = fileBytesDone;
        progress_.bytesDone = bytesBeforeFile_ + fileBytesDone;
        Report(progress_.fileBytesTotal > kLargeFile);
    }

private:
    // Creates the destination folder as needed and remembers it, so that a walk
    // through a source that holds the destination never copies the copy.
    Descriptor OpenTargetRoot(const std::string& destination, bool& created) {
        Descriptor target;
        if (options_.target != nullptr) {
            std::string reason;
            target = Descriptor(options_.target->OpenFolder(destination, true, reason, &created));
            if (!target.valid()) {
                ReportError(destination, reason);
                return target;
            }
        } else {
            std::error_code error;
            created = std::filesystem::create_directories(destination, error);
            target = Descriptor(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!target.valid()) {
                ReportErrno(destination);
                return target;
            }
        }
        struct stat status {};
        if (::fstat(target.get(), &status) == 0) {
            rootDevice_ = status.st_dev;
            rootInode_ = status.st_ino;
        }
        return target;
    }

    // A folder copied onto itself has nothing to copy, and the copy inside its
    // source must not be copied again.
    bool IsTargetRoot(const struct stat& folder) const {
        return folder.st_dev == rootDevice_ && folder.st_ino == rootInode_;
    }

    bool HeldBack(const std::string& folderPath, const char* name, bool isFolder) const {
        return options_.holdsBack && options_.holdsBack(Join(folderPath, name), isFolder);
    }

    bool StopRequested() const { return options_.stopRequested && options_.stopRequested(); }

    // Takes ownership of sourceFd.
    void CopyFolderContents(int sourceFd, const std::string& sourcePath, const OpenFolder& target,
                            const std::string* pattern) {
        const std::unique_ptr<DIR, int (*)(DIR*)> folder(::fdopendir(sourceFd), ::closedir);
        if (folder == nullptr) {
            ::close(sourceFd);
            return ReportErrno(sourcePath);
        }
        // The copies handed out use this folder's descriptors and paths: none
        // outlives them, even when something throws.
        const PendingCopies pending(pool_);
        if (!target.fresh) SweepStaleTemporaries(target);
        const OpenFolder source{::dirfd(folder.get()), sourcePath};
        while (const dirent* entry = ::readdir(folder.get())) {
            if (StopRequested()) break;
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            if (pattern != nullptr && !MatchesPattern(*pattern, name)) continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat status {};
                if (::fstatat(source.fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
                    ReportErrnoOrVanished(Join(sourcePath, name));
                    continue;
                }
                type = S_ISDIR(status.st_mode)   ? DT_DIR
                       : S_ISREG(status.st_mode) ? DT_REG
                       : S_ISLNK(status.st_mode) ? DT_LNK
                                                 : DT_FIFO;
            }
            if (HeldBack(sourcePath, name, type == DT_DIR)) continue;
            switch (type) {
                case DT_DIR:
                    CopySubfolder(source, name, target);
                    break;
                case DT_REG:
                    CopyRegularFile(source, name, target);
                    break;
                case DT_LNK:
                    CopyLink(source, name, target, name);
                    break;
                default:
                    // Pipes, sockets and devices have no content to back up, and
                    // opening a pipe could wait for ever.
                    ReportError(Join(sourcePath, name), kNotCopiable);
                    break;
            }
        }
        // The folder's attributes come once all its files are in.
        pool_.FinishAll();
    }

    class PendingCopies {
    public:
        explicit PendingCopies(FileCopyPool& pool) : pool_(pool) {}
        ~PendingCopies() { pool_.Abandon(); }
        PendingCopies(const PendingCopies&) = delete;
        PendingCopies& operator=(const PendingCopies&) = delete;

    private:
        FileCopyPool& pool_;
    };

    void CopySubfolder(const OpenFolder& sourceParent, const char* name, const OpenFolder& targetParent) {
        Descriptor source(::openat(sourceParent.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!source.valid()) return ReportErrnoOrVanished(Join(sourceParent.path, name));
        struct stat status {};
        if (::fstat(source.get(), &status) != 0) return ReportErrno(Join(sourceParent.path, name));
        if (IsTargetRoot(status)) return;

        const std::string targetPath = Join(targetParent.path, name);
        const bool created = ::mkdirat(targetParent.fd, name, 0700) == 0;
        if (!created && errno != EEXIST) return ReportErrno(targetPath);
        Descriptor target(::openat(targetParent.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!target.valid()) {
            if (errno == ENOTDIR || errno == ELOOP)
                return ReportBlockedFolder(targetParent.fd, name, targetPath);
            return ReportErrno(targetPath);
        }
        CopyFolderContents(source.Release(), Join(sourceParent.path, name),
                           {target.get(), targetPath, created}, nullptr);
        KeepAttributes(target.get(), status);
    }

    void ReportBlockedFolder(int parent, const char* name, const std::string& path) {
        struct stat status {};
        const bool link =
            ::fstatat(parent, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
        ReportError(path, link ? kLinkInTheWay : "a file stands where the folder must be created");
    }

    // A file found in a folder: copied on a worker when the pool runs, and
    // counted and reported here in the order of the entries.
    void CopyRegularFile(const OpenFolder& sourceFolder, const char* name, const OpenFolder& targetFolder) {
        pool_.Submit(std::make_unique<FileJob>(*this, sourceFolder, name, targetFolder));
    }

    // The half of a file's copy that any thread may run: it touches nothing of
    // the copier but what stays constant, and reports through `copy` only. A
    // large file is only opened: its data moves where progress is reported.
    void StartCopy(FileCopy& copy) const {
        // A single file is looked through only when its link is what the user named.
        const bool noFollow = !copy.name.empty() || !options_.followSourceLink;
        const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0);
        const char* const source = copy.name.empty() ? copy.sourceFolder.path.c_str() : copy.name.c_str();
        copy.source = Descriptor(::openat(copy.sourceFolder.fd, source, flags));
        if (!copy.source.valid() || ::fstat(copy.source.get(), &copy.status) != 0) {
            copy.error = errno;
            copy.stage = FileCopy::Stage::Unreadable;
        } else if (!S_ISREG(copy.status.st_mode)) {
            copy.stage = FileCopy::Stage::NotCopiable;
        } else if (copy.Size() > kLargeFile) {
            copy.stage = FileCopy::Stage::Opened;
        } else {
            WriteCopy(copy, nullptr);
        }
    }

    // The other half, on the walking thread: moves a large file's data with
    // progress, then counts and reports. A file of the walk not started yet
    // when a stop is asked for is left alone, as an entry not reached.
    void FinishCopy(FileCopy& copy, bool stoppable) {
        switch (copy.stage) {
            case FileCopy::Stage::Unreadable:
                return CountError(copy.SourcePath(), FailureText(copy.error));
            case FileCopy::Stage::NotCopiable:
                return CountError(copy.SourcePath(), kNotCopiable);
            case FileCopy::Stage::Opened:
                if (stoppable && StopRequested()) return;
                break;
            default:
                break;
        }
        const std::uint64_t size = copy.Size();
        if (options_.showProgress) StartFile(copy.SourcePath(), size);
        if (copy.stage == FileCopy::Stage::Opened)
            WriteCopy(copy, options_.showProgress ? this : nullptr);
        else if (options_.showProgress && copy.stage == FileCopy::Stage::Copied && size > 0)
            ChunkCopied(size);
        // A failed file is handled all the same; progress counts it whole.
        bytesBeforeFile_ += size;
        switch (copy.stage) {
            case FileCopy::Stage::TemporaryRefused:
                return CountError(copy.TargetPath(), std::strerror(copy.error));
            case FileCopy::Stage::WriteFailed:
                return CountError(copy.TargetPath(), WriteFailureText(copy.error));
            default:
                ++outcome_.filesCopied;
                outcome_.bytesCopied += size;
        }
    }

    // Writes an opened source's copy.
    void WriteCopy(FileCopy& copy, DataCopyObserver* observer) const {
        const OpenFolder& targetFolder = copy.targetFolder;
        // The data goes to a file without a name, which gets one only when it is
        // whole: a run killed mid-copy leaves neither a cut-off copy under the
        // real name nor a temporary file behind. Where the file system cannot
        // do that, a temporary name is used and renamed.
        std::string temporary;
        // Naming it goes through /proc, which a bare container may lack. A copy
        // known to replace an older one needs a temporary name anyway, and
        // goes to it straight away (a killed copy's is cleared by the next run).
        static const bool canNameAnonymousFiles = ::access("/proc/self/fd", X_OK) == 0;
        Descriptor target(canNameAnonymousFiles && !options_.replacesCopy
                              ? ::openat(targetFolder.fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600)
                              : -1);
        const bool anonymous = target.valid();
        if (!anonymous) {
            target = Descriptor(CreateTemporary(copy.targetName, temporary, [&](const char* temporaryName) {
                return ::openat(targetFolder.fd, temporaryName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                                0600);
            }));
            if (!target.valid()) {
                copy.error = errno;
                copy.stage = FileCopy::Stage::TemporaryRefused;
                return;
            }
        }

        int error = CopyFileData(copy.source.get(), target.get(), copy.Size(), observer);
        copy.source.Reset();
        if (error == 0) KeepAttributes(target.get(), copy.status);
        if (error == 0 && anonymous)
            error = NameAnonymousFile(target.get(), targetFolder, copy.targetName, temporary);
        if (::close(target.Release()) != 0 && error == 0) error = errno;
        if (error == 0 && !temporary.empty() &&
            ::renameat(targetFolder.fd, temporary.c_str(), targetFolder.fd, copy.targetName.c_str()) != 0)
            error = errno;
        if (error != 0 && !temporary.empty()) ::unlinkat(targetFolder.fd, temporary.c_str(), 0);
        copy.error = error;
        copy.stage = error == 0 ? FileCopy::Stage::Copied : FileCopy::Stage::WriteFailed;
    }

    class FileJob final : public FileCopyJob {
    public:
        FileJob(TreeCopier& copier, const OpenFolder& sourceFolder, const char* name,
                const OpenFolder& targetFolder)
            : copier_(copier), copy_(sourceFolder, name, targetFolder, name) {}
        void Run() override { copier_.StartCopy(copy_); }
        void Finish() override { copier_.FinishCopy(copy_, true); }

    private:
        TreeCopier& copier_;
        FileCopy copy_;
    };

    // Links a finished anonymous file into the folder: straight under its name
    // when that is free (a folder this copy made) and no copy is known to be
    // there, else under a temporary name that the caller renames over the old
    // copy, so the old copy stays whole until the new one is complete. 0 or
    // the errno.
    int NameAnonymousFile(int file, const OpenFolder& folder, const std::string& targetName,
                          std::string& temporary) const {
        const std::string self = "/proc/self/fd/" + std::to_string(file);
        const auto link = [&](const char* name) {
            return ::linkat(AT_FDCWD, self.c_str(), folder.fd, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : -1;
        };
        if (!options_.replacesCopy) {
            if (link(targetName.c_str()) == 0) return 0;
            if (errno != EEXIST) return errno;
        }
        return CreateTemporary(targetName, temporary, link) == 0 ? 0 : errno;
    }

    void CopyLink(const OpenFolder& sourceFolder, const char* name, const OpenFolder& targetFolder,
                  const std::string& targetName) {
        // After the files handed out before it, so that counts and reports keep
        // the order of the entries.
        pool_.FinishAll();
        struct stat status {};
        if (options_.showProgress) StartFile(Join(sourceFolder.path, name), 0);
        if (::fstatat(sourceFolder.fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            return ReportErrnoOrVanished(Join(sourceFolder.path, name));
        std::string linkText(static_cast<std::size_t>(status.st_size) + 1, '\0');
        for (;;) {
            const ssize_t length = ::readlinkat(sourceFolder.fd, name, linkText.data(), linkText.size());
            if (length < 0) return ReportErrnoOrVanished(Join(sourceFolder.path, name));
            if (static_cast<std::size_t>(length) < linkText.size()) {
                linkText.resize(static_cast<std::size_t>(length));
                break;
            }
            linkText.resize(linkText.size() * 2);
        }
        std::string temporary;
        const int created = CreateTemporary(targetName, temporary, [&](const char* temporaryName) {
            return ::symlinkat(linkText.c_str(), targetFolder.fd, temporaryName) == 0 ? 0 : -1;
        });
        if (created < 0) return ReportErrno(Join(targetFolder.path, targetName));
        KeepOwner(status, [&](uid_t user, gid_t group) {
            return ::fchownat(targetFolder.fd, temporary.c_str(), user, group, AT_SYMLINK_NOFOLLOW);
        });
        const timespec times[2] = {status.st_atim, status.st_mtim};
        (void)::utimensat(targetFolder.fd, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW);
        if (::renameat(targetFolder.fd, temporary.c_str(), targetFolder.fd, targetName.c_str()) != 0) {
            const int error = errno;
            ::unlinkat(targetFolder.fd, temporary.c_str(), 0);
            return ReportWriteError(Join(targetFolder.path, targetName), error);
        }
        ++outcome_.filesCopied;
    }

    // Temporary files a killed copy left in a folder of the backup; only inside
    // a BackupTarget, and once per folder and run.
    void SweepStaleTemporaries(const OpenFolder& folder) {
        if (options_.target == nullptr || !options_.target->FirstVisit(folder.path)) return;
        DIR* listing = ::fdopendir(::openat(folder.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (listing == nullptr) return;
        while (const dirent* entry = ::readdir(listing))
            if (IsStaleTemporaryName(entry->d_name)) (void)::unlinkat(folder.fd, entry->d_name, 0);
        ::closedir(listing);
    }

    // Finds a free temporary name beside the target ("." + name + ".part-..."),
    // short enough for a target name near the length limit. `create` returns
    // a descriptor or 0 on success, -1 with errno on failure.
    template <typename Create>
    int CreateTemporary(std::string_view targetName, std::string& temporary, Create create) const {
        for (int attempt = 0; attempt < 100; ++attempt) {
            temporary = std::string(1, '.') + std::string(targetName.substr(0, 200)) + temporaryPrefix_ +
                        std::to_string(temporaryCounter_.fetch_add(1, std::memory_order_relaxed));
            const int result = create(temporary.c_str());
            if (result >= 0 || errno != EEXIST) return result;
        }
        return -1;
    }

    void StartFile(std::string path, std::uint64_t size) {
        progress_.filesDone = filesStarted_++;
        progress_.currentFile = std::move(path);
        progress_.fileBytesDone = 0;
        progress_.fileBytesTotal = size;
        progress_.bytesDone = bytesBeforeFile_;
        Report(size > kLargeFile);
    }

    // Small files are reported at most every 25 ms, so thousands of them do not
    // flood the window; a large file reports after every chunk.
    void Report(bool always) {
        const std::int64_t now = MonotonicNs();
        if (!always && reportedOnce_ && now - lastReportNs_ < kProgressIntervalNs) return;
        reportedOnce_ = true;
        lastReportNs_ = now;
        reporter_.ReportProgress(progress_);
    }

    void CountError(const std::string& path, const std::string& message) {
        ++outcome_.errors;
        reporter_.ReportError(path, message);
    }

    // An error the walk itself meets comes after those of the files handed
    // out before it (never call this while finishing a file's copy).
    void ReportError(const std::string& path, const std::string& message) {
        pool_.FinishAll();
        CountError(path, message);
    }

    void ReportErrno(const std::string& path) { ReportError(path, std::strerror(errno)); }

    void ReportErrnoOrVanished(const std::string& path) { ReportError(path, FailureText(errno)); }

    void ReportWriteError(const std::string& path, int error) { ReportError(path, WriteFailureText(error)); }

    const CopyOptions& options_;
    TransferReporter& reporter_;
    CopyOutcome outcome_;
    TransferProgress progress_;
    std::uint64_t bytesBeforeFile_ = 0;  // of the files handled, copied or not
    std::uint64_t filesStarted_ = 0;
    std::int64_t lastReportNs_ = 0;
    bool reportedOnce_ = false;
    const std::string temporaryPrefix_;
    // Workers name temporary files too.
    mutable std::atomic<unsigned long> temporaryCounter_ = 0;
    dev_t rootDevice_ = 0;
    ino_t rootInode_ = 0;
    // Last, so that its threads are gone before anything they use.
    FileCopyPool pool_{FileCopyPool::WorkersToUse()};
};

bool ProcessIsGone(pid_t process) {
    return ::kill(process, 0) != 0 && errno == ESRCH;
}

std::uint64_t ParseNumber(std::string_view digits, bool& ok) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    ok = !digits.empty() && error == std::errc() && end == digits.data() + digits.size();
    return value;
}
}  // namespace

bool IsStaleTemporaryName(std::string_view name) {
    constexpr std::string_view kMarker = ".part-";
    const std::size_t marker = name.rfind(kMarker);
    if (name.size() < 2 || name.front() != '.' || marker == std::string_view::npos || marker < 2)
        return false;
    const std::string_view numbers = name.substr(marker + kMarker.size());
    const std::size_t dash = numbers.find('-');
    if (dash == std::string_view::npos) return false;
    bool pidOk = false, counterOk = false;
    const std::uint64_t process = ParseNumber(numbers.substr(0, dash), pidOk);
    ParseNumber(numbers.substr(dash + 1), counterOk);
    if (!pidOk || !counterOk || process == 0 || process > static_cast<std::uint64_t>(INT32_MAX)) return false;
    const auto pid = static_cast<pid_t>(process);
    return pid == ::getpid() || ProcessIsGone(pid);
}

void KeepAttributes(int copy, const struct stat& source) {
    const bool ownerKept =
        KeepOwner(source, [&](uid_t user, gid_t group) { return ::fchown(copy, user, group); });
    // A file system without modes (a FAT stick) refuses fchmod; the data counts.
    (void)::fchmod(copy, CopyMode(source, ownerKept));
    const timespec times[2] = {source.st_atim, source.st_mtim};
    (void)::futimens(copy, times);
}

BackupTarget::BackupTarget(std::string rootPath) : rootPath_(WithoutTrailingSlashes(std::move(rootPath))) {
    root_ = ::open(rootPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root_ < 0) openError_ = errno;
}

BackupTarget::~BackupTarget() {
    if (root_ >= 0) ::close(root_);
}

// The root's length in paths below it: none for "/", whose paths begin with
// the separator the others have after the root.
std::size_t BackupTarget::PrefixLength() const {
    return rootPath_ == "/" ? 0 : rootPath_.size();
}

bool BackupTarget::Holds(std::string_view path) const {
    const std::size_t prefix = PrefixLength();
    return path == rootPath_ ||
           (path.size() > prefix && path.starts_with(rootPath_.substr(0, prefix)) && path[prefix] == '/');
}

int BackupTarget::OpenFolder(std::string_view path, bool create, std::string& reason, bool* created) {
    if (created != nullptr) *created = false;
    if (root_ < 0) {
        reason = std::strerror(openError_);
        return -1;
    }
    if (!Holds(path)) {
        reason = "outside the backup folder " + rootPath_;
        return -1;
    }
    Descriptor folder(::dup(root_));
    std::string walked = rootPath_.substr(0, PrefixLength());
    std::string_view rest = path == rootPath_ ? std::string_view() : path.substr(PrefixLength());
    while (!rest.empty() && folder.valid()) {
        rest.remove_prefix(1);  // the "/"
        const std::size_t slash = rest.find('/');
        const std::string name(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        if (name.empty()) continue;
        walked += "/" + name;
        constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        bool made = false;
        Descriptor inner(::openat(folder.get(), name.c_str(), kFlags));
        // Made only when missing: most folders exist, and one look is cheaper than two.
        if (!inner.valid() && errno == ENOENT && create && ::mkdirat(folder.get(), name.c_str(), 0700) == 0) {
            made = true;
            touched_.insert(walked);
            inner = Descriptor(::openat(folder.get(), name.c_str(), kFlags));
        }
        if (!inner.valid()) {
            struct stat status {};
            if ((errno == ENOTDIR || errno == ELOOP) &&
                ::fstatat(folder.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0)
                reason = walked + ": " + (S_ISLNK(status.st_mode) ? kLinkInTheWay : "not a folder");
            else
                reason = walked + ": " + std::strerror(errno);
            return -1;
        }
        folder = std::move(inner);
        if (created != nullptr) *created = made;
    }
    if (create && !walked.empty() && walked != rootPath_) touched_.insert(walked);
    return folder.Release();
}

int BackupTarget::ReopenFolder(int folder, std::string_view path) {
    const int copy = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (copy >= 0 && path != rootPath_) touched_.emplace(path);
    return copy;
}

std::vector<std::string> BackupTarget::TakeTouchedFolders() {
    std::vector<std::string> folders(touched_.begin(), touched_.end());
    touched_.clear();
    std::stable_sort(folders.begin(), folders.end(),
                     [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    return folders;
}

CopyOutcome ShellCopy(const std::string& source, const std::string& destination, bool showProgress,
                      TransferReporter& reporter) {
    CopyOptions options;
    options.showProgress = showProgress;
    return ShellCopy(source, destination, options, reporter);
}

CopyOutcome ShellCopy(const std::string& source, const std::string& destination, const CopyOptions& options,
                      TransferReporter& reporter) {
    const std::string sourcePath = WithoutTrailingSlashes(source);
    const std::string name = LastComponent(sourcePath);
    const std::string target = WithoutTrailingSlashes(destination);
    TreeCopier copier(options, reporter);
    if (IsWildcardPattern(sourcePath)) {
        if (!QueryFileStatus(sourcePath)) {
            // A pattern that matches nothing in an existing folder is no loss;
            // a folder that cannot be read is.
            const std::string folder = ParentFolder(sourcePath);
            CopyOutcome nothing;
            nothing.sourceMissing = !IsFolder(folder);
            if (nothing.sourceMissing) return nothing;
            Descriptor readable(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!readable.valid()) {
                nothing.errors = 1;
                reporter.ReportError(folder, std::strerror(errno));
            }
            return nothing;
        }
        copier.CopyFolderInto(ParentFolder(sourcePath), target, &name);
        copier.ReportEnd();
        return copier.Outcome();
    }
    // A dangling link named as the source has nothing behind it; one found
    // inside a folder is copied as itself.
    struct stat status {};
    const int found =
        options.followSourceLink ? ::stat(sourcePath.c_str(), &status) : ::lstat(sourcePath.c_str(), &status);
    if (found != 0) {
        CopyOutcome nothing;
        nothing.sourceMissing = true;
        return nothing;
    }
    // Inside a backup the destination names the copy itself, unless it is the
    // root; a link there is never looked through.
    const bool intoFolder =
        options.target != nullptr ? target == options.target->RootPath() : IsFolder(target);
    const std::string copyPath = intoFolder ? Join(target, name) : target;
    if (S_ISDIR(status.st_mode))
        copier.CopyFolderInto(sourcePath, copyPath, nullptr);
    else
        copier.CopyFile(sourcePath, copyPath, S_ISLNK(status.st_mode));
    copier.ReportEnd();
    return copier.Outcome();
}
