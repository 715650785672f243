#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One backup set-up as the main window and the CLI hold it. Interval, minutes
// remaining, last run, destination and entries travel in the project file.
struct BackupSetup {
    std::vector<std::string> entries;  // files, "<folder>/...", "-" exceptions
    std::string destination;           // "<folder>/..." or the FTP form
    std::string daysText;              // the three interval boxes
    std::string hoursText;
    std::string minutesText;
    std::int32_t interval = 0;  // minutes; 0 means no schedule
    std::int32_t minutesRemaining = 0;
    std::string lastRun;  // "YYYY-MM-DD HH:MM" or empty
    int backupMode = 0;   // 0 full, 1 incremental
    std::string optionFlags;
    std::string currentProjectFile;
    bool breakLongPaths = false;
    // Set by an owner that never edits the project (the CLI): its saves write
    // only minutes remaining and last run over the file as it is on disk, so an
    // edit made elsewhere during a run is kept.
    bool savesRunStateOnly = false;
};
