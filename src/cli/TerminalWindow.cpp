#include "cli/TerminalWindow.h"

#include "cli/CancelSignal.h"
#include "engine/BackupEngine.h"
#include "engine/ProgressTracking.h"
#include "util/ShortenedPath.h"

#include <thread>

namespace {
constexpr std::chrono::milliseconds kMinimumLineInterval{250};
// Less room than this shows no file name at all.
constexpr std::size_t kShortestFileRoom = 12;
}  // namespace

void TerminalWindow::SetStatusLine(const std::string& text) {
    statusLine_ = text;
    if (progressShown_) return;  // the progress line says more
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
    if (live_ != nullptr)
        live_->Show(text);
    else
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

void TerminalWindow::ShowProgress(const RunProgress& progress) {
    if (live_ == nullptr) return;
    progressShown_ = true;
    pending_ = false;
    live_->Show(ProgressLineText(progress, *texts_, live_->Width() - 1));
}

void TerminalWindow::HideProgress() {
    if (live_ == nullptr || !progressShown_) return;
    progressShown_ = false;
    live_->Finish();
    lastPrinted_.clear();
}

std::string ProgressLineText(const RunProgress& progress, const CTranslation& texts, std::size_t columns) {
    const ProgressTexts words = DescribeProgress(progress, texts, ProgressClockNs());
    if (progress.Counting()) return words.files;
    std::string line = std::to_string(static_cast<int>(progress.DoneShare() * 100)) + "%  " + words.files +
                       "  " + words.data + "  " + words.timeLeft;
    const std::size_t used = CharacterCount(line) + 2;
    if (progress.CurrentFile().empty() || used + kShortestFileRoom > columns) return line;
    const std::size_t room = columns - used;
    return line + "  " + ShortenPath(progress.CurrentFile(), room, room / 3);
}
