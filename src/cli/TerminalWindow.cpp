#include "cli/TerminalWindow.h"

#include "cli/CancelSignal.h"
#include "engine/BackupEngine.h"

#include <thread>

namespace {
constexpr std::chrono::milliseconds kMinimumLineInterval{250};
}

void TerminalWindow::SetStatusLine(const std::string& text) {
    statusLine_ = text;
    if (text.empty() || text == lastPrinted_) {
        pending_ = false;
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (lastPrinted_.empty() || now - lastPrintTime_ >= kMinimumLineInterval) {
        Print(text);
        lastPrintTime_ = now;
    } else {
        pending_ = true;
    }
}

void TerminalWindow::Print(const std::string& text) {
    out_ << text << '\n' << std::flush;
    lastPrinted_ = text;
    pending_ = false;
}

void TerminalWindow::Flush() {
    if (pending_ && !statusLine_.empty()) Print(statusLine_);
}

void TerminalWindow::PumpMessages() {
    if (CancelSignalReceived()) RequestCancel(run_);
    if (pending_ && std::chrono::steady_clock::now() - lastPrintTime_ >= kMinimumLineInterval) {
        Print(statusLine_);
        lastPrintTime_ = std::chrono::steady_clock::now();
    }
}

void TerminalWindow::WaitMilliseconds(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    PumpMessages();
}
