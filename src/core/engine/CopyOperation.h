#pragma once

#include "engine/BackupEngine.h"
#include "platform/ShellCopy.h"

#include <cerrno>
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

// True when a folder exception holds back the whole folder at folderPath (its
// "<folder>/" is the folder or one above it). A file exception naming the
// folder does not: it names a file.
bool IsFolderExcluded(const std::vector<std::string>& exceptions, std::string_view folderPath);

enum class CopyStatus {
    Copied,     // handed to the copy facility; the outcome says what it did
    Excluded,   // held back by an exception
    Cancelled,  // the run was cancelled before; nothing changed
    Missing,    // nothing at the source; nothing changed, nothing reported yet
};

struct CopyResult {
    CopyStatus status = CopyStatus::Copied;
    CopyOutcome outcome;
};

// The copy operation: does nothing once cancelled; collapses doubled
// separators; holds back an excluded source, and inside a copied folder every
// file and folder the run's exceptions name; otherwise shows the progress
// text, copies with ShellCopy beside the window (CopyBesideTheWindow: reports
// reach the context's reporter on the calling thread) and puts the
// status line back. Counting is the caller's, from the result.
CopyResult CopyItem(BackupContext& context, std::string source, std::string destination, CopyOptions options);

// A source that should be there and is not (an entry renamed, deleted or a
// dangling link; a file gone since the walk) or cannot be looked at: a failure
// of the run. `error` is the errno of the failed lookup.
void ReportMissingSource(BackupContext& context, const std::string& path, int error = ENOENT);
// The same for a folder entry ("<folder>/...") whose folder does not exist.
void ReportMissingFolder(BackupContext& context, std::string_view folderEntry);

// A file's status as the changed-file copy reads it (a link as a link, with
// its target text); exists is false when the lookup failed, error says why.
struct ModificationStatus {
    bool exists = false;
    std::time_t modificationTime = 0;
    std::uint64_t size = 0;
    bool isLink = false;
    std::string linkText;
    int error = 0;
};

// Open handles of the source folder and the destination folder the changed-file
// copy looked in last. Found files come folder by folder, so most checks look up
// a bare name in an open folder instead of resolving the whole path again. Each
// status is read afresh; only the folders are kept, for one loop over found
// files. Paths it cannot serve this way (no folder part, a trailing "/", too
// long, a folder that does not open) get a plain lookup, so every answer is the
// one a lookup of the full path gives, except that a folder another program
// swaps for a new one between two checks is seen as it was until the next copy.
// With a backup target, destination folders are entered from its root without
// following links (a blocked folder reads as missing; the copy reports it).
class RecentFolders {
public:
    explicit RecentFolders(BackupTarget* target = nullptr) : target_(target) {}
    RecentFolders(const RecentFolders&) = delete;
    RecentFolders& operator=(const RecentFolders&) = delete;
    ~RecentFolders() { Forget(); }

    // followLink: a file entry the user named is looked through; a file found
    // inside a folder is read as itself.
    ModificationStatus SourceStatus(const std::string& path, bool followLink) {
        return StatusThrough(source_, path, followLink, nullptr);
    }
    ModificationStatus DestinationStatus(const std::string& path) {
        return StatusThrough(destination_, path, false, target_);
    }
    BackupTarget* Target() const { return target_; }

    // Closes both handles. Called after every copy: the copy may have created
    // folders, and other work may have run while it pumped messages.
    void Forget();

private:
    struct Folder {
        std::string path;
        int descriptor = -1;
    };
    static ModificationStatus StatusThrough(Folder& folder, const std::string& path, bool followLink,
                                            BackupTarget* target);
    static void Close(Folder& folder);

    BackupTarget* target_;
    Folder source_;
    Folder destination_;
};

// The changed-file rule: the copy exists with the source's kind, link text and
// modification minute (local time), so the source need not be copied again.
bool SameCopy(const ModificationStatus& source, const ModificationStatus& copy);

// Where a changed-file copy's source comes from.
enum class SourceRole {
    Entry,          // a file entry: its link is followed, its absence is a failure
    FoundInFolder,  // found by the walk: a link is copied as a link; gone since is a failure
};

// Copies source over destination when it is new or its modification minute
// (local time), its kind (file or link) or its link text differ; when the copy
// was made, adds 1 to the copied count, the bytes written to the byte total,
// and logs text 860 with the destination when option position 4 is '1'. A
// missing source is reported as a failure; it, an excluded one, a failed copy
// and a cancelled run count nothing. A log that cannot be written adds a
// failure line to run.failures instead of ending the run. Both files are
// looked up through folders, which forgets its handles after a copy.
void CopyIfChanged(BackupContext& context, const std::string& source, const std::string& destination,
                   RecentFolders& folders, SourceRole role = SourceRole::FoundInFolder);

// The same for a file entry, with handles of its own.
void CopyIfChanged(BackupContext& context, const std::string& source, const std::string& destination,
                   BackupTarget* target = nullptr);

// After a folder entry's changed files are in: every folder of the copy the
// copies created or wrote into gets its source folder's mode, owner and times.
void KeepTouchedFolderAttributes(BackupTarget& target, const std::string& sourceFolder,
                                 const std::string& targetFolder);

// Appends every file and link below the folder of "<folder>/..." (the last four
// characters are cut off) to run.foundFiles, recursively, pumping per entry.
// Only "." and ".." are left out. Links (to files, to folders, dangling) are
// found items themselves, never followed; the folder entry itself is. A folder
// that does not exist or cannot be read, and pipes, sockets and devices, are
// reported to the context's reporter.
void WalkFolder(BackupContext& context, const std::string& folderEntry);

// The changed-file copy of a folder entry ("<folder>/...") into targetFolder
// inside the target, folder by folder, with the results of WalkFolder followed
// by CopyIfChanged for each found file: every found file or link adds 1 to the
// scanned count and is compared by name in its open folder against its copy
// folder (entered from the target's root without following links, listed once
// at its first missing copy), with no full path resolved per file; pipes, sockets, devices, unreadable
// folders and files gone since the listing are reported. run.foundFiles holds
// the found files of the folder at hand only (empty at the end), so memory does
// not grow with the tree. Stops once the run is cancelled.
void CopyChangedFiles(BackupContext& context, const std::string& folderEntry, const std::string& targetFolder,
                      BackupTarget& target);

// Writes the progress text on the countdown line (Counting also copies it into
// run.countdownText so the next refresh keeps it).
void ShowProgressText(BackupContext& context, const std::string& path, ProgressMode mode);
