#pragma once

#include "engine/RunProgress.h"
#include "sources/Entries.h"

#include <cstdint>
#include <string>
#include <vector>

// State of the backup run, owned by the window (or the CLI) next to the set-up.
struct RunState {
    bool running = false;
    bool cancelRequested = false;
    std::vector<std::string> reportLines;  // line 0 is the start line
    std::int32_t scannedCount = 0;
    std::int32_t copiedCount = 0;
    std::uint64_t byteTotal = 0;
    std::vector<std::string> exceptions;  // exception entries without their "-"
    std::vector<std::string> foundFiles;  // filled by the folder walk
    FtpParameters ftp;
    // One line per failure of this run (copy errors, failed uploads, log writes).
    std::vector<std::string> failures;
    // Failures of the owner's preparation (a project or settings file that could
    // not be saved): the next run starts its failures with them.
    std::vector<std::string> failuresBeforeRun;
    // Files and bytes handled of the run's totals, kept by every run.
    RunProgress progress;
    // The bound text of the countdown line; a refresh shows it.
    std::string countdownText;
};
