#pragma once

#include <sys/types.h>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// 8-bit text files: one byte, one character. Lines end in CR LF when written;
// reading accepts CR LF and LF. A missing or unreadable file throws FileError.
std::vector<std::string> ReadLines(const std::string& path);
std::string ReadFileBytes(const std::string& path);
std::vector<std::string> SplitLines(std::string_view bytes);

// Project and settings files hold a few lines; anything larger is not one.
inline constexpr std::size_t kSetupFileSizeLimit = std::size_t{8} << 20;

// Like ReadFileBytes for files that must be small regular files (project,
// settings): a FIFO, device or folder is refused without blocking, and so is a
// file of more than maxBytes, each with a FileError naming the file.
std::string ReadSmallRegularFile(const std::string& path, std::size_t maxBytes = kSetupFileSizeLimit);

bool FileContainsText(const std::string& path, std::string_view text);

// Replaces the file's whole content atomically: a temporary file in the same
// folder, flushed, then renamed over the old one. On any failure the old file is
// left whole, the temporary file is removed and FileError names the file.
// A new file gets modeLimit (less the umask); an existing file keeps its mode
// with the bits outside modeLimit removed. An existing file the caller may not
// write is refused as a plain write would be, and stays as it was.
// Temporary files that killed writers left beside the target (this function's
// own name pattern, of a process that no longer runs) are removed on the way.
void WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t modeLimit = 0666);

// "a\nb" -> "a\r\nb": the line-end convention of every file the program writes.
std::string ToCrLf(std::string_view text);
