#pragma once

#include "cli/LiveStatusLine.h"
#include "platform/TransferReporter.h"

#include <ostream>

// Errors of the copy and the transfer, one line each with the path (above the
// live line on a terminal); progress is shown by the window, not here.
class StreamReporter : public TransferReporter {
public:
    explicit StreamReporter(std::ostream& out, LiveStatusLine* live = nullptr) : out_(out), live_(live) {}
    void ReportError(const std::string& path, const std::string& message) override;
    void ReportProgress(const TransferProgress&) override {}

private:
    std::ostream& out_;
    LiveStatusLine* live_;
};
