#include "util/TextFile.h"

#include "util/Descriptor.h"
#include "util/FileError.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {
std::string ErrorText(int error) {
    return std::strerror(error);
}

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

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Every temporary name of a target starts so; the name part is cut short enough
// that a target name near the file-name limit still gets a temporary name that fits.
std::string TemporaryPrefix(const std::string& target) {
    return "." + NameOf(target).substr(0, 200) + ".tmp";
}

std::string TemporaryName(const std::string& target, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    return folder + TemporaryPrefix(target) + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
           "-" + std::to_string(attempt);
}

// Takes a run of decimal digits off the front of text.
std::optional<unsigned long> TakeNumber(std::string_view& text) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits == 0 || digits > 10) return std::nullopt;
    const unsigned long value = std::stoul(std::string(text.substr(0, digits)));
    text.remove_prefix(digits);
    return value;
}

// The writer's process id when name is exactly a temporary name of the target
// ("<prefix><pid>-<counter>-<attempt>"); nullopt for every other name.
std::optional<pid_t> WriterOfTemporary(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix)) return std::nullopt;
    name.remove_prefix(prefix.size());
    const std::optional<unsigned long> pid = TakeNumber(name);
    for (int part = 0; part < 2; ++part) {
        if (!name.starts_with('-')) return std::nullopt;
        name.remove_prefix(1);
        if (!TakeNumber(name)) return std::nullopt;
    }
    if (!pid || *pid == 0 || !name.empty()) return std::nullopt;
    return static_cast<pid_t>(*pid);
}

bool ProcessIsAlive(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// A writer killed between creating and renaming its temporary file leaves it
// behind (a project's holds the FTP password). Only this program's own names for
// this target, of writers that are gone, are removed; a folder that cannot be
// listed changes nothing.
void RemoveStaleTemporaries(const std::string& target) {
    const std::string folder = FolderOf(target);
    const std::string prefix = TemporaryPrefix(target);
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) return;
    while (const dirent* entry = ::readdir(listing)) {
        const std::optional<pid_t> writer = WriterOfTemporary(entry->d_name, prefix);
        if (!writer || *writer == ::getpid() || ProcessIsAlive(*writer)) continue;
        const std::string path = folder + "/" + entry->d_name;
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) ::unlink(path.c_str());
    }
    ::closedir(listing);
}

// Reads to the end; more than maxBytes is refused.
std::string ReadOpenFile(const Descriptor& file, const std::string& path, std::size_t maxBytes) {
    std::string bytes;
    struct stat status {};
    if (::fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<std::size_t>(status.st_size) <= maxBytes)
        bytes.reserve(static_cast<std::size_t>(status.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw FileError(path, ErrorText(errno));
        }
        if (got == 0) break;
        if (static_cast<std::size_t>(got) > maxBytes - bytes.size())
            throw FileError(path, "is larger than " + std::to_string(maxBytes >> 20) +
                                      " MiB, too large for this kind of file");
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

// A write the caller may not make must fail before anything is replaced. Opening
// for writing, without truncating, asks the same question a plain write would.
void RequireWritable(const std::string& path, const std::string& target) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw FileError(path, ErrorText(errno));
    ::close(fd);
}
}  // namespace

std::string ReadFileBytes(const std::string& path) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) throw FileError(path, ErrorText(errno));
    return ReadOpenFile(file, path, std::string().max_size());
}

std::string ReadSmallRegularFile(const std::string& path, std::size_t maxBytes) {
    // Non-blocking, so a FIFO without a writer cannot hold the open.
    Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) throw FileError(path, ErrorText(errno));
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) throw FileError(path, ErrorText(errno));
    if (S_ISDIR(status.st_mode)) throw FileError(path, "is a folder, not a file");
    if (!S_ISREG(status.st_mode)) throw FileError(path, "is not a regular file");
    return ReadOpenFile(file, path, maxBytes);
}

std::vector<std::string> ReadLines(const std::string& path) {
    return SplitLines(ReadFileBytes(path));
}

std::vector<std::string> SplitLines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        const bool lastLine = end == std::string::npos;
        if (lastLine) end = bytes.size();
        std::size_t contentEnd = end;
        if (!lastLine && contentEnd > start && bytes[contentEnd - 1] == '\r') --contentEnd;
        lines.emplace_back(bytes.substr(start, contentEnd - start));
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
    if (exists) RequireWritable(path, target);
    RemoveStaleTemporaries(target);

    std::string temporary;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = TemporaryName(target, attempt);
        // The kernel applies the umask to a new file's mode.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, modeLimit & 07777);
        if (fd < 0 && errno != EEXIST) throw FileError(path, ErrorText(errno));
    }
    if (fd < 0) throw FileError(path, ErrorText(EEXIST));
    Descriptor file(fd);

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
