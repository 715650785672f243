#pragma once

#include "engine/Restore.h"
#include "i18n/CTranslation.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What one restore from the window did.
struct RestoreOutcome {
    std::size_t restored = 0;
    std::uint64_t bytes = 0;
    std::size_t skipped = 0;
    std::size_t missing = 0;
    std::vector<std::string> failures;  // "path: reason", as a run lists them
};

// "Files to restore: 3 (12 KB)   Skipped: 1   Missing: 0" for a dry run.
std::string PlanSummaryText(const CTranslation& texts, const RestorePlan& plan);

// The same counts once the restore is done, one a line.
std::string OutcomeSummaryText(const CTranslation& texts, const RestoreOutcome& outcome);

// How a plan's item reads in the list's first column: what happens to it and why.
std::string ActionText(const CTranslation& texts, RestoreAction action);
