#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

struct FileStatus {
    std::time_t modificationTime = 0;  // seconds since 1970, UTC
    std::uint64_t size = 0;
    bool isDirectory = false;
};

// Status of the first directory entry a search for the path finds. The last path
// component may hold wildcards ("*", "?"); "*.*" matches every name, dot files
// included. Fails (nullopt) when the search finds nothing.
std::optional<FileStatus> QueryFileStatus(const std::string& pathOrPattern);

// True when the last component holds "*" or "?" and no entry of exactly that
// name exists: a file may be called "a*b" on Linux and is then itself, not a
// pattern.
bool IsWildcardPattern(const std::string& path);

// Size from the status query, 0 when there is none.
std::uint64_t PathSize(const std::string& pathOrPattern);
