#pragma once

#include "support/RecordingReporter.h"

#include <sys/stat.h>
#include <filesystem>
#include <set>
#include <string>

// Every entry below the folder, as paths relative to it; links are not followed.
inline std::set<std::string> TreeListing(const std::string& folder) {
    std::set<std::string> listing;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        listing.insert(entry.path().lexically_relative(folder).string());
    return listing;
}

inline struct stat StatusOf(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status;
}
