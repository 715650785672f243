#pragma once

#include "engine/BackupEngine.h"

#include <cstdint>
#include <ctime>
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

// A file's status as the changed-file copy reads it; exists is false when the
// lookup failed for whatever reason.
struct ModificationStatus {
    bool exists = false;
    std::time_t modificationTime = 0;
    std::uint64_t size = 0;
};

// Open handles of the source folder and the destination folder the changed-file
// copy looked in last. Found files come folder by folder, so most checks look up
// a bare name in an open folder instead of resolving the whole path again. Each
// status is read afresh; only the folders are kept, for one loop over found
// files. Paths it cannot serve this way (no folder part, a trailing "/", too
// long, a folder that does not open) get a plain stat, so every answer is the
// one a stat of the full path gives, except that a folder another program swaps
// for a new one between two checks is seen as it was until the next copy.
class RecentFolders {
public:
    RecentFolders() = default;
    RecentFolders(const RecentFolders&) = delete;
    RecentFolders& operator=(const RecentFolders&) = delete;
    ~RecentFolders() { Forget(); }

    ModificationStatus SourceStatus(const std::string& path) { return StatusThrough(source_, path); }
    ModificationStatus DestinationStatus(const std::string& path) {
        return StatusThrough(destination_, path);
    }

    // Closes both handles. Called after every copy: the copy may have created
    // folders, and other work may have run while it pumped messages.
    void Forget();

private:
    struct Folder {
        std::string path;
        int descriptor = -1;
    };
    static ModificationStatus StatusThrough(Folder& folder, const std::string& path);
    static void Close(Folder& folder);

    Folder source_;
    Folder destination_;
};

// Copies source over destination when their modification minutes (local time)
// differ or destination is missing; when the copy was made, adds 1 to the
// copied count, the source's size to the byte total, and logs text 860 with the
// destination when option position 4 is '1'. A missing source, an excluded one
// and a cancelled run count nothing. A log that cannot be written adds a
// failure line to run.failures instead of ending the run. Both files are
// looked up through folders, which forgets its handles after a copy.
void CopyIfChanged(BackupContext& context, const std::string& source, const std::string& destination,
                   RecentFolders& folders);

// The same for a single pair of files, with handles of its own.
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
