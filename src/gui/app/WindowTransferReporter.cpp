#include "app/WindowTransferReporter.h"

#include <utility>

namespace {
constexpr auto kPumpInterval = std::chrono::milliseconds(25);
}

WindowTransferReporter::WindowTransferReporter(std::function<void()> pump) : pump_(std::move(pump)) {}

void WindowTransferReporter::ReportError(const std::string& path, const std::string& message) {
    errors_.push_back(message.empty() ? path : path + ": " + message);
}

void WindowTransferReporter::ReportProgress(const TransferProgress&) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPump_ < kPumpInterval) return;
    lastPump_ = now;
    pump_();
}

std::vector<std::string> WindowTransferReporter::TakeErrors() {
    return std::exchange(errors_, {});
}
