#include "platform/ShellCopy.h"

#include "platform/FileDataCopy.h"
#include "util/FileStatus.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string_view>

namespace {
constexpr std::int64_t kProgressIntervalNs = 50'000'000;
// Files above this size are copied in several chunks and announce themselves.
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

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.Release();
        }
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// An open folder of the walk. `path` is only used for messages; `fresh` says the
// folder was created by this copy, so nothing in it can be overwritten.
struct OpenFolder {
    int fd;
    const std::string& path;
    bool fresh = false;
};

// One copy operation: walks the source with descriptors relative to their folder
// (no path lookups per file). A file that replaces an older copy is written under
// a temporary name and renamed over it; in a folder this copy created there is
// nothing to protect, and the file is written in place.
class TreeCopier : public DataCopyObserver {
public:
    TreeCopier(bool showProgress, TransferReporter& reporter)
        : showProgress_(showProgress),
          reporter_(reporter),
          temporaryPrefix_(".part-" + std::to_string(::getpid()) + "-") {}

    void CopyMatches(const std::string& folder, const std::string& pattern, const std::string& destination) {
        Descriptor source(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!source.valid()) return ReportErrno(folder);
        bool fresh = false;
        Descriptor target = OpenTargetRoot(destination, fresh);
        if (!target.valid() || IsTargetRoot(source.get())) return;
        CopyFolderContents(source.Release(), folder, {target.get(), destination, fresh}, &pattern);
    }

    void CopyFolder(const std::string& folder, const std::string& destination) {
        Descriptor source(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!source.valid()) return ReportErrno(folder);
        struct stat status {};
        if (::fstat(source.get(), &status) != 0) return ReportErrno(folder);
        bool fresh = false;
        Descriptor target = OpenTargetRoot(destination, fresh);
        if (!target.valid() || IsTargetRoot(source.get())) return;
        CopyFolderContents(::dup(source.get()), folder, {target.get(), destination, fresh}, nullptr);
        ApplyFolderAttributes(target.get(), status);
    }

    void CopyFile(const std::string& file, const std::string& destination) {
        const std::string folder = ParentFolder(destination);
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        Descriptor target(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!target.valid()) return ReportErrno(destination);
        CopyRegularFile({AT_FDCWD, file}, nullptr, {target.get(), destination}, LastComponent(destination));
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
        std::error_code error;
        created = std::filesystem::create_directories(destination, error);
        Descriptor target(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!target.valid()) {
            ReportErrno(destination);
            return target;
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
    bool IsTargetRoot(int folder) const {
        struct stat status {};
        return ::fstat(folder, &status) == 0 && IsTargetRoot(status);
    }

    // Takes ownership of sourceFd.
    void CopyFolderContents(int sourceFd, const std::string& sourcePath, const OpenFolder& target,
                            const std::string* pattern) {
        DIR* folder = ::fdopendir(sourceFd);
        if (folder == nullptr) {
            ::close(sourceFd);
            return ReportErrno(sourcePath);
        }
        const OpenFolder source{::dirfd(folder), sourcePath};
        while (const dirent* entry = ::readdir(folder)) {
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            if (pattern != nullptr && !MatchesPattern(*pattern, name)) continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat status {};
                if (::fstatat(source.fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
                type = S_ISDIR(status.st_mode)   ? DT_DIR
                       : S_ISREG(status.st_mode) ? DT_REG
                       : S_ISLNK(status.st_mode) ? DT_LNK
                                                 : DT_FIFO;
            }
            switch (type) {
                case DT_DIR:
                    CopySubfolder(source, name, target);
                    break;
                case DT_REG:
                    CopyRegularFile(source, name, target, name);
                    break;
                case DT_LNK:
                    CopyLink(source, name, target);
                    break;
                default:
                    // Pipes, sockets and devices have no content to back up, and
                    // opening a pipe could wait for ever.
                    reporter_.ReportError(Join(sourcePath, name),
                                          "not a regular file, folder or link; not copied");
                    break;
            }
        }
        ::closedir(folder);
    }

    void CopySubfolder(const OpenFolder& sourceParent, const char* name, const OpenFolder& targetParent) {
        Descriptor source(::openat(sourceParent.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!source.valid()) return ReportErrnoUnlessGone(Join(sourceParent.path, name));
        struct stat status {};
        if (::fstat(source.get(), &status) != 0) return ReportErrno(Join(sourceParent.path, name));
        if (IsTargetRoot(status)) return;

        const std::string targetPath = Join(targetParent.path, name);
        const bool created = ::mkdirat(targetParent.fd, name, 0700) == 0;
        if (!created && errno != EEXIST) return ReportErrno(targetPath);
        Descriptor target(::openat(targetParent.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!target.valid()) {
            if (errno == ENOTDIR || errno == ELOOP)
                return reporter_.ReportError(targetPath, "a file stands where the folder must be created");
            return ReportErrno(targetPath);
        }
        CopyFolderContents(source.Release(), Join(sourceParent.path, name),
                           {target.get(), targetPath, created}, nullptr);
        ApplyFolderAttributes(target.get(), status);
    }

    // After the contents, since creating them changes the folder's time.
    static void ApplyFolderAttributes(int folder, const struct stat& source) {
        (void)::fchmod(folder, source.st_mode & 07777);
        const timespec times[2] = {source.st_atim, source.st_mtim};
        (void)::futimens(folder, times);
    }

    // `name` null: the source folder's path is the file itself (a copy of a single
    // file, whose link, if it is one, is followed); the target folder's path is
    // then the target file.
    void CopyRegularFile(const OpenFolder& sourceFolder, const char* name, const OpenFolder& targetFolder,
                         const std::string& targetName) {
        // Path texts are only put together for messages.
        auto sourcePath = [&] { return name ? Join(sourceFolder.path, name) : sourceFolder.path; };
        auto targetPath = [&] { return name ? Join(targetFolder.path, targetName) : targetFolder.path; };

        const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (name ? O_NOFOLLOW : 0);
        Descriptor source(::openat(sourceFolder.fd, name ? name : sourceFolder.path.c_str(), flags));
        if (!source.valid()) return ReportErrnoUnlessGone(sourcePath());
        struct stat status {};
        if (::fstat(source.get(), &status) != 0) return ReportErrno(sourcePath());
        if (!S_ISREG(status.st_mode))
            return reporter_.ReportError(sourcePath(), "not a regular file, folder or link; not copied");
        const auto size = static_cast<std::uint64_t>(status.st_size);
        if (showProgress_) StartFile(sourcePath(), size);

        std::string temporary;
        Descriptor target;
        if (targetFolder.fresh)
            target = Descriptor(
                ::openat(targetFolder.fd, targetName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!target.valid()) {
            if (targetFolder.fresh && errno != EEXIST) return ReportErrno(targetPath());
            target = Descriptor(CreateTemporary(targetName, temporary, [&](const char* temporaryName) {
                return ::openat(targetFolder.fd, temporaryName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                                0600);
            }));
            if (!target.valid()) return ReportErrno(targetPath());
        }
        // Written in place or under the temporary name.
        const std::string& written = temporary.empty() ? targetName : temporary;

        int error = CopyFileData(source.get(), target.get(), size, showProgress_ ? this : nullptr);
        if (error == 0) {
            // A file system without modes (a FAT stick) refuses fchmod; the data counts.
            (void)::fchmod(target.get(), status.st_mode & 07777);
            const timespec times[2] = {status.st_atim, status.st_mtim};
            (void)::futimens(target.get(), times);
        }
        if (::close(target.Release()) != 0 && error == 0) error = errno;
        if (error == 0 && !temporary.empty() &&
            ::renameat(targetFolder.fd, temporary.c_str(), targetFolder.fd, targetName.c_str()) != 0)
            error = errno;
        if (error != 0) {
            ::unlinkat(targetFolder.fd, written.c_str(), 0);
            return ReportWriteError(targetPath(), error);
        }
        bytesBeforeFile_ += size;
    }

    void CopyLink(const OpenFolder& sourceFolder, const char* name, const OpenFolder& targetFolder) {
        struct stat status {};
        if (::fstatat(sourceFolder.fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            return ReportErrnoUnlessGone(Join(sourceFolder.path, name));
        std::string linkText(static_cast<std::size_t>(status.st_size) + 1, '\0');
        for (;;) {
            const ssize_t length = ::readlinkat(sourceFolder.fd, name, linkText.data(), linkText.size());
            if (length < 0) return ReportErrnoUnlessGone(Join(sourceFolder.path, name));
            if (static_cast<std::size_t>(length) < linkText.size()) {
                linkText.resize(static_cast<std::size_t>(length));
                break;
            }
            linkText.resize(linkText.size() * 2);
        }
        std::string temporary;
        const int created = CreateTemporary(name, temporary, [&](const char* temporaryName) {
            return ::symlinkat(linkText.c_str(), targetFolder.fd, temporaryName) == 0 ? 0 : -1;
        });
        if (created < 0) return ReportErrno(Join(targetFolder.path, name));
        const timespec times[2] = {status.st_atim, status.st_mtim};
        (void)::utimensat(targetFolder.fd, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW);
        if (::renameat(targetFolder.fd, temporary.c_str(), targetFolder.fd, name) != 0) {
            const int error = errno;
            ::unlinkat(targetFolder.fd, temporary.c_str(), 0);
            ReportWriteError(Join(targetFolder.path, name), error);
        }
    }

    // Finds a free temporary name beside the target ("." + name + ".part-..."),
    // short enough for a target name near the length limit. `create` returns
    // a descriptor or 0 on success, -1 with errno on failure.
    template <typename Create>
    int CreateTemporary(std::string_view targetName, std::string& temporary, Create create) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            temporary = std::string(1, '.') + std::string(targetName.substr(0, 200)) + temporaryPrefix_ +
                        std::to_string(temporaryCounter_++);
            const int result = create(temporary.c_str());
            if (result >= 0 || errno != EEXIST) return result;
        }
        return -1;
    }

    void StartFile(std::string path, std::uint64_t size) {
        progress_.currentFile = std::move(path);
        progress_.fileBytesDone = 0;
        progress_.fileBytesTotal = size;
        progress_.bytesDone = bytesBeforeFile_;
        Report(size > kLargeFile);
    }

    // Small files are reported at most every 50 ms, so thousands of them do not
    // flood the window; a large file reports after every chunk.
    void Report(bool always) {
        const std::int64_t now = MonotonicNs();
        if (!always && reportedOnce_ && now - lastReportNs_ < kProgressIntervalNs) return;
        reportedOnce_ = true;
        lastReportNs_ = now;
        reporter_.ReportProgress(progress_);
    }

    void ReportErrno(const std::string& path) { reporter_.ReportError(path, std::strerror(errno)); }

    // An entry deleted while the copy runs is no longer part of what is backed up.
    void ReportErrnoUnlessGone(const std::string& path) {
        if (errno != ENOENT) ReportErrno(path);
    }

    void ReportWriteError(const std::string& path, int error) {
        if (error == EISDIR || error == ENOTEMPTY || error == EEXIST)
            reporter_.ReportError(path, "a folder stands where the file must be written");
        else
            reporter_.ReportError(path, std::strerror(error));
    }

    bool showProgress_;
    TransferReporter& reporter_;
    TransferProgress progress_;
    std::uint64_t bytesBeforeFile_ = 0;
    std::int64_t lastReportNs_ = 0;
    bool reportedOnce_ = false;
    const std::string temporaryPrefix_;
    unsigned long temporaryCounter_ = 0;
    dev_t rootDevice_ = 0;
    ino_t rootInode_ = 0;
};
}  // namespace

void ShellCopy(const std::string& source, const std::string& destination, bool showProgress,
               TransferReporter& reporter) {
    const std::optional<FileStatus> status = QueryFileStatus(source);
    if (!status) return;

    TreeCopier copier(showProgress, reporter);
    const std::string sourcePath = WithoutTrailingSlashes(source);
    const std::string name = LastComponent(sourcePath);
    const std::string target = WithoutTrailingSlashes(destination);
    if (IsWildcardPattern(sourcePath)) return copier.CopyMatches(ParentFolder(sourcePath), name, target);
    const std::string copyPath = IsFolder(target) ? Join(target, name) : target;
    if (status->isDirectory)
        copier.CopyFolder(sourcePath, copyPath);
    else
        copier.CopyFile(sourcePath, copyPath);
}
