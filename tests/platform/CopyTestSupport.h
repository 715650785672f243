#pragma once

#include "platform/TransferReporter.h"

#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

// Records what the copy facility reports.
class RecordingReporter : public TransferReporter {
public:
    void ReportError(const std::string& path, const std::string& message) override {
        errors.emplace_back(path, message);
    }
    void ReportProgress(const TransferProgress& report) override { progress.push_back(report); }

    std::vector<std::pair<std::string, std::string>> errors;
    std::vector<TransferProgress> progress;
};

// Every entry below the folder, as paths relative to it; links are not followed.
inline std::set<std::string> TreeListing(const std::string& folder) {
    std::set<std::string> listing;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        listing.insert(entry.path().lexically_relative(folder).string());
    return listing;
}

inline struct stat StatusOf(const std::string& path) {
    struct stat status{};
    ::lstat(path.c_str(), &status);
    return status;
}
