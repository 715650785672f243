#include "util/FileStatus.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <string_view>

namespace {
bool HasWildcard(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

bool MatchesPattern(const char* pattern, const char* name) {
    // "*.*" and "*" stand for every name, including names without a dot.
    if (std::string_view(pattern) == "*.*" || std::string_view(pattern) == "*") return true;
    return ::fnmatch(pattern, name, 0) == 0;
}

FileStatus ToFileStatus(const struct stat& status) {
    FileStatus result;
    result.modificationTime = status.st_mtime;
    result.isDirectory = S_ISDIR(status.st_mode);
    // A folder has no size of its own here, as in a directory search.
    result.size = result.isDirectory ? 0 : static_cast<std::uint64_t>(status.st_size);
    return result;
}

std::optional<FileStatus> StatusOfPath(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 || ::lstat(path.c_str(), &status) == 0)
        return ToFileStatus(status);
    return std::nullopt;
}

// The directory's own "." and ".." are not entries. Among the matches the
// smallest name in byte order counts as the first, so the answer does not depend
// on the order in which the file system lists its entries.
std::optional<FileStatus> StatusOfFirstMatch(const std::string& folder, const std::string& pattern) {
    DIR* directory = ::opendir(folder.empty() ? "/" : folder.c_str());
    if (directory == nullptr) return std::nullopt;
    std::string first;
    bool found = false;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (!MatchesPattern(pattern.c_str(), entry->d_name)) continue;
        if (!found || name < first) {
            first = name;
            found = true;
        }
    }
    ::closedir(directory);
    if (!found) return std::nullopt;
    return StatusOfPath(folder + "/" + first);
}
}  // namespace

bool IsWildcardPattern(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (!HasWildcard(slash == std::string::npos ? std::string_view(path)
                                                : std::string_view(path).substr(slash + 1)))
        return false;
    struct stat status {};
    return ::lstat(path.c_str(), &status) != 0;
}

std::optional<FileStatus> QueryFileStatus(const std::string& pathOrPattern) {
    if (!IsWildcardPattern(pathOrPattern)) return StatusOfPath(pathOrPattern);
    const std::size_t slash = pathOrPattern.rfind('/');
    const std::string lastComponent =
        slash == std::string::npos ? pathOrPattern : pathOrPattern.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? "." : pathOrPattern.substr(0, slash);
    return StatusOfFirstMatch(folder, lastComponent);
}

std::uint64_t PathSize(const std::string& pathOrPattern) {
    const std::optional<FileStatus> status = QueryFileStatus(pathOrPattern);
    return status ? status->size : 0;
}
