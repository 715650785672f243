#pragma once

#include "platform/TransferReporter.h"

#include <string>
#include <utility>
#include <vector>

// A TransferReporter for tests: keeps every error and progress report.
class RecordingReporter : public TransferReporter {
public:
    void ReportError(const std::string& path, const std::string& message) override {
        errors.emplace_back(path, message);
    }
    void ReportProgress(const TransferProgress& progress) override { progressReports.push_back(progress); }

    std::vector<std::pair<std::string, std::string>> errors;  // path, message
    std::vector<TransferProgress> progressReports;
};
