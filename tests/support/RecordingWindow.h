#pragma once

#include "engine/BackupWindow.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

// A BackupWindow for tests: keeps the status line and records every call, so a
// test can check what a window would have shown and in which order.
class RecordingWindow : public BackupWindow {
public:
    void PullValues() override;
    void Refresh() override;
    void SetStatusLine(const std::string& text) override;
    std::string StatusLine() const override { return statusLine; }
    void PumpMessages() override;
    void SetRunning(bool running) override;
    void StartTimer() override;
    void StopTimer() override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void MinimizeToTray() override;
    void WaitMilliseconds(int milliseconds) override;

    // Called from PumpMessages, e.g. to request a cancel in the middle of a run.
    std::function<void()> onPump;
    // Called from Refresh with the bound countdown text a real window would show.
    std::function<void()> onRefresh;

    std::string statusLine;
    std::vector<std::string> statusHistory;                     // every SetStatusLine text, in order
    std::vector<std::string> events;                            // "refresh", "pull", "running:1", ...
    std::vector<std::pair<std::string, std::string>> messages;  // text, caption
    int pumpCount = 0;
    int refreshCount = 0;
    bool timerRunning = false;
    bool running = false;
    long long waitedMilliseconds = 0;
};
