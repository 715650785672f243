#include "storage/HistoryLog.h"

#include "util/Descriptor.h"
#include "util/FileError.h"
#include "util/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

// The log is a list of lines: an append reads them all, adds the text as one
// more element and writes every element followed by a line end, each LF going
// to disk as CR LF. For a log whose lines end in CR LF, as this program writes
// them, that rewrite reproduces the old bytes exactly, so when the file ends
// with CR LF (or is empty) the same result is reached by writing only the new
// element at the end. Only a file with an unfinished last
// line (or one ending in a bare LF) takes the full rewrite, once.

namespace {
constexpr std::string_view kHeader =
    "Tarnwick Backup History File\r\n"
    "=============================\r\n"
    "\r\n"
    "\r\n";

// How a text-mode write puts a text on disk: every LF becomes CR LF.
std::string TextModeBytes(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() + 16);
    for (char c : text) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    return bytes;
}

// How a text-mode read sees the bytes: CR LF becomes LF.
std::string TextModeText(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text += bytes[i];
    }
    return text;
}

// The new element as written: its text and the line end that ends it.
std::string ElementBytes(std::string_view text) {
    return TextModeBytes(text) + "\r\n";
}

bool EndsWithCrLf(int fd, off_t size) {
    char last[2] = {};
    return ::pread(fd, last, 2, size - 2) == 2 && last[0] == '\r' && last[1] == '\n';
}

// Appends at the end; a write that fails part-way is cut back off, so the log
// never keeps half a line.
void AppendBytes(const std::string& logPath, int fd, off_t oldSize, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            const int error = written < 0 ? errno : ENOSPC;
            (void)!::ftruncate(fd, oldSize);
            throw FileError(logPath, std::strerror(error));
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

// The full read-all-lines, rewrite-all-lines append.
void RewriteWithElement(const std::string& logPath, std::string_view oldBytes, std::string_view text) {
    std::string lines = TextModeText(oldBytes);
    if (!lines.empty() && lines.back() != '\n') lines += '\n';
    WriteFileAtomically(logPath, TextModeBytes(lines) + ElementBytes(text));
}
}  // namespace

std::string HistoryLogPath(const std::string& folder, const std::string& programFolder) {
    return (folder.empty() ? programFolder : folder) + "/history.txt";
}

void AppendToHistory(const std::string& logPath, std::string_view text) {
    Descriptor file(::open(logPath.c_str(), O_RDWR | O_APPEND | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno != ENOENT) throw FileError(logPath, std::strerror(errno));
        WriteFileAtomically(logPath, std::string(kHeader) + ElementBytes(text));
        return;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) throw FileError(logPath, std::strerror(errno));
    if (!S_ISREG(status.st_mode)) throw FileError(logPath, "not a regular file");
    if (status.st_size == 0 || EndsWithCrLf(file.get(), status.st_size)) {
        AppendBytes(logPath, file.get(), status.st_size, ElementBytes(text));
        return;
    }
    RewriteWithElement(logPath, ReadFileBytes(logPath), text);
}

void WriteHistoryHeader(const std::string& logPath) {
    WriteFileAtomically(logPath, kHeader);
}
