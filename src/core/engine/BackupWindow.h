#pragma once

#include "engine/RunProgress.h"

#include <string>

// What the scheduler and the backup run need from a window. The main window
// implements it with widgets, the CLI with terminal output, tests with a recorder.
class BackupWindow {
public:
    virtual ~BackupWindow() = default;

    // Controls -> set-up (interval boxes, mode radio buttons).
    virtual void PullValues() = 0;
    // Set-up and the countdown text -> controls.
    virtual void Refresh() = 0;
    // Writes the countdown line directly, bypassing the bound countdown text.
    virtual void SetStatusLine(const std::string& text) = 0;
    virtual std::string StatusLine() const = 0;
    // Lets pending window events run (repaint, the stop button).
    virtual void PumpMessages() = 0;
    // The controls that change the set-up; the start button stays enabled as
    // the stop request while running is true.
    virtual void SetRunning(bool running) = 0;
    virtual void StartTimer() = 0;
    virtual void StopTimer() = 0;
    // Tells the user something without waiting for them: the schedule goes on
    // while the message is open.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
    virtual void MinimizeToTray() = 0;
    // Blocks for about the given time while letting events run.
    virtual void WaitMilliseconds(int milliseconds) = 0;
    // How far the run has got; called, at most a few times a second, only when
    // the context asks for progress to be shown.
    virtual void ShowProgress(const RunProgress&) {}
    // The run is over (or never got to copying): the progress display goes.
    virtual void HideProgress() {}
};
