#include "util/TextFile.h"

#include "util/FileError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {
std::string ErrorText(int error) {
    return std::strerror(error);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now so that a failing close can be reported.
    int Close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// A link (a settings file kept elsewhere) is written through, not replaced.
std::string ResolveLink(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

// Short enough that a target name near the file-name limit still gets a temporary
// name that fits.
std::string TemporaryName(const std::string& target, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    return folder + "." + name.substr(0, 200) + ".tmp" + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + "-" + std::to_string(attempt);
}
}  // namespace

std::string ReadFileBytes(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) throw FileError(path, ErrorText(errno));
    std::string bytes;
    struct stat status {};
    if (::fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode))
        bytes.reserve(static_cast<std::size_t>(status.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw FileError(path, ErrorText(errno));
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

std::vector<std::string> ReadLines(const std::string& path) {
    const std::string bytes = ReadFileBytes(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        const bool lastLine = end == std::string::npos;
        if (lastLine) end = bytes.size();
        std::size_t contentEnd = end;
        if (!lastLine && contentEnd > start && bytes[contentEnd - 1] == '\r') --contentEnd;
        lines.emplace_back(bytes, start, contentEnd - start);
        start = end + 1;
    }
    return lines;
}

bool FileContainsText(const std::string& path, std::string_view text) {
    bool found = false;
    for (const std::string& line : ReadLines(path))
        if (line.find(text) != std::string::npos) found = true;
    return found;
}

void WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t modeLimit) {
    const std::string target = ResolveLink(path);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);

    std::string temporary;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = TemporaryName(target, attempt);
        // The kernel applies the umask to a new file's mode.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, modeLimit & 07777);
        if (fd < 0 && errno != EEXIST) throw FileError(path, ErrorText(errno));
    }
    if (fd < 0) throw FileError(path, ErrorText(EEXIST));
    FileDescriptor file(fd);

    auto fail = [&](int error) {
        if (file.get() >= 0) file.Close();
        ::unlink(temporary.c_str());
        throw FileError(path, ErrorText(error));
    };

    if (exists) {
        if (::fchmod(file.get(), old.st_mode & modeLimit & 07777) != 0) fail(errno);
        // Root rewriting a user's file must not take it over; failure is harmless.
        if (::geteuid() == 0) (void)!::fchown(file.get(), old.st_uid, old.st_gid);
    }
    if (!WriteAll(file.get(), bytes)) fail(errno);
    if (::fsync(file.get()) != 0) fail(errno);
    if (file.Close() != 0) fail(errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0) fail(errno);

    // Makes the rename itself durable; a folder that cannot be synced changes nothing.
    const int folder = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

std::string ToCrLf(std::string_view text) {
    std::string result;
    result.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) result += '\r';
        result += text[i];
    }
    return result;
}
