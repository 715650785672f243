#pragma once

#include "platform/TransferReporter.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// The main window's receiver of copy and transfer reports: errors are gathered
// for one message after the run, progress keeps the window responsive (at most
// one pump every 25 ms: often enough that the window never waits a tenth of a
// second, rarely enough that a fast copy is not slowed by repainting).
class WindowTransferReporter : public TransferReporter {
public:
    explicit WindowTransferReporter(std::function<void()> pump);

    void ReportError(const std::string& path, const std::string& message) override;
    void ReportProgress(const TransferProgress& progress) override;

    // The errors gathered since the last call.
    std::vector<std::string> TakeErrors();

private:
    std::function<void()> pump_;
    std::chrono::steady_clock::time_point lastPump_{};
    std::vector<std::string> errors_;
};
