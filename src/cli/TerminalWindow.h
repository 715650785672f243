#pragma once

#include "cli/LiveStatusLine.h"
#include "engine/BackupWindow.h"
#include "engine/RunState.h"
#include "i18n/CTranslation.h"

#include <chrono>
#include <ostream>
#include <string>

// The CLI's window: the countdown line goes to a stream (stderr), one line per
// change. Identical lines are printed once, and changes that come faster than
// a few per second are coalesced to the latest, so a run over thousands of
// files does not flood the terminal. On a terminal the lines rewrite one live
// line instead, which shows the run's progress while there is one. Pumping
// polls the cancel signal.
class TerminalWindow : public BackupWindow {
public:
    TerminalWindow(RunState& run, std::ostream& out) : run_(run), out_(out) {}

    void PullValues() override {}
    void Refresh() override { SetStatusLine(run_.countdownText); }
    void SetStatusLine(const std::string& text) override;
    std::string StatusLine() const override { return statusLine_; }
    void PumpMessages() override;
    void SetRunning(bool) override {}
    void StartTimer() override {}
    void StopTimer() override {}
    // The CLI prints the summary itself, whatever the option says.
    void ShowMessage(const std::string&, const std::string&) override {}
    void MinimizeToTray() override {}
    void WaitMilliseconds(int milliseconds) override;
    void ShowProgress(const RunProgress& progress) override;
    void HideProgress() override;

    // Status lines and progress go to the live line from now on.
    void UseLiveLine(LiveStatusLine& line, const CTranslation& texts) {
        live_ = &line;
        texts_ = &texts;
    }

    // Prints a change that was held back by the coalescing.
    void Flush();

private:
    void Print(const std::string& text);

    RunState& run_;
    std::ostream& out_;
    std::string statusLine_;
    std::string lastPrinted_;
    bool pending_ = false;
    LiveStatusLine* live_ = nullptr;
    const CTranslation* texts_ = nullptr;
    bool progressShown_ = false;
    std::chrono::steady_clock::time_point lastPrintTime_{};
};

// The live progress line: share done, files, data, time left and, in the
// columns left, the file at hand shortened in the middle.
std::string ProgressLineText(const RunProgress& progress, const CTranslation& texts, std::size_t columns);
