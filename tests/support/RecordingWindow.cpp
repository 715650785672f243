#include "support/RecordingWindow.h"

void RecordingWindow::PullValues() {
    events.push_back("pull");
}

void RecordingWindow::Refresh() {
    ++refreshCount;
    events.push_back("refresh");
    if (onRefresh) onRefresh();
}

void RecordingWindow::SetStatusLine(const std::string& text) {
    statusLine = text;
    statusHistory.push_back(text);
}

void RecordingWindow::PumpMessages() {
    ++pumpCount;
    if (onPump) onPump();
}

void RecordingWindow::SetRunning(bool isRunning) {
    running = isRunning;
    events.push_back(isRunning ? "running:1" : "running:0");
}

void RecordingWindow::StartTimer() {
    timerRunning = true;
    events.push_back("timer:start");
}

void RecordingWindow::StopTimer() {
    timerRunning = false;
    events.push_back("timer:stop");
}

void RecordingWindow::ShowMessage(const std::string& text, const std::string& caption) {
    messages.emplace_back(text, caption);
    events.push_back("message");
}

void RecordingWindow::MinimizeToTray() {
    events.push_back("tray");
}

void RecordingWindow::WaitMilliseconds(int milliseconds) {
    waitedMilliseconds += milliseconds;
    events.push_back("wait:" + std::to_string(milliseconds));
}
