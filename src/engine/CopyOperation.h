#pragma once

#include "engine/BackupEngine.h"

#include <string>
#include <string_view>
#include <vector>

// The local copying machinery the backup run drives: the filtered copy, the
// changed-file copy of incremental backups, the folder walk and the progress
// text on the countdown line.

enum class ProgressMode {
    Copying = 0,   // "<text 900> <path>" while a copy runs
    Counting = 1,  // "<text 905> <count>" on every 100th file the walk finds
};

// Every "//" becomes "/" (left to right, non-overlapping), so a pattern whose
// separators were doubled reaches the copy unchanged.
std::string CollapseDoubledSeparators(std::string_view path);

// True when an exception holds the source back: equal to a file exception, or
// starting with a folder exception's path ("<folder>/" of "<folder>/...") and
// longer than it. Exact and case-sensitive.
bool IsExcluded(const std::vector<std::string>& exceptions, std::string_view source);

enum class CopyResult {
    Copied,     // handed to the copy facility (its errors went to the reporter)
    Excluded,   // held back by an exception; the copied count was lowered by 1
    Cancelled,  // the run was cancelled before; nothing changed
};

// The copy operation: does nothing once cancelled; collapses doubled
// separators; an excluded source takes 1 off the copied count (the caller's
// own +1 then cancels out); otherwise shows the progress text, copies with
// ShellCopy (errors to the context's reporter) and puts the status line back.
CopyResult CopyItem(BackupContext& context, std::string source, std::string destination, bool showProgress);

// Copies source over destination when their modification minutes (local time)
// differ or destination is missing; when the copy was made, adds 1 to the
// copied count, the source's size to the byte total, and logs text 860 with the
// destination when option position 4 is '1'. A missing source, an excluded one
// and a cancelled run count nothing. A log that cannot be written adds a
// failure line to run.failures instead of ending the run.
void CopyIfChanged(BackupContext& context, const std::string& source, const std::string& destination);

// Appends every file below the folder of "<folder>/..." (the last four
// characters are cut off) to run.foundFiles, recursively, pumping per entry.
// Only "." and ".." are left out. Symbolic links to folders are neither
// followed nor listed (a link loop would never end); an unreadable folder
// contributes nothing.
void WalkFolder(BackupContext& context, const std::string& folderEntry);

// Writes the progress text on the countdown line (Counting also copies it into
// run.countdownText so the next refresh keeps it).
void ShowProgressText(BackupContext& context, const std::string& path, ProgressMode mode);
