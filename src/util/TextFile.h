#pragma once

#include <sys/types.h>
#include <string>
#include <string_view>
#include <vector>

// 8-bit text files: one byte, one character. Lines end in CR LF when written;
// reading accepts CR LF and LF. A missing or unreadable file throws FileError.
std::vector<std::string> ReadLines(const std::string& path);
std::string ReadFileBytes(const std::string& path);

bool FileContainsText(const std::string& path, std::string_view text);

// Replaces the file's whole content atomically: a temporary file in the same
// folder, flushed, then renamed over the old one. On any failure the old file is
// left whole, the temporary file is removed and FileError names the file.
// A new file gets modeLimit (less the umask); an existing file keeps its mode
// with the bits outside modeLimit removed.
void WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t modeLimit = 0666);

// "a\nb" -> "a\r\nb": the line-end convention of every file the program writes.
std::string ToCrLf(std::string_view text);
