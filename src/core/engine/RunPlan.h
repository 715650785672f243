#pragma once

#include "engine/BackupEngine.h"

#include <cstdint>
#include <string>
#include <vector>

// What a backup run would copy or upload, found with the run's own folder walk,
// exception rule, layout and changed-file rule, without writing anything.

struct PlannedCopy {
    std::string source;
    std::string destination;  // a local path, or the folder on the server
    std::uint64_t size = 0;
};

struct RunPlan {
    std::vector<PlannedCopy> copies;
    std::size_t scannedCount = 0;  // files looked at, as the run counts them
    // False for an incremental upload: the server is not asked, so every file
    // is listed that the run would offer for upload (it skips those whose copy
    // on the server is newer).
    bool changesChecked = true;
    std::uint64_t TotalSize() const;
};

// The plan for context.setup. Sources that are missing or cannot be read go to
// the context's reporter and run.failures as a run would report them; nothing is copied, logged
// or saved.
RunPlan PlanRun(BackupContext& context);
