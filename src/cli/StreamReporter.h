#pragma once

#include "platform/TransferReporter.h"

#include <ostream>

// Errors of the copy and the transfer, one line each with the path; progress
// is not printed (the status lines say what is being copied).
class StreamReporter : public TransferReporter {
public:
    explicit StreamReporter(std::ostream& out) : out_(out) {}
    void ReportError(const std::string& path, const std::string& message) override;
    void ReportProgress(const TransferProgress&) override {}

private:
    std::ostream& out_;
};
