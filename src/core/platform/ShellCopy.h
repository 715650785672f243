#pragma once

#include "platform/TransferReporter.h"

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// What one copy really did, so that callers count and log facts, not hopes.
struct CopyOutcome {
    std::uint32_t filesCopied = 0;  // regular files and links written
    std::uint64_t bytesCopied = 0;
    std::uint32_t errors = 0;    // each one went to the reporter
    bool sourceMissing = false;  // nothing at the source (not reported: the caller knows what it meant)
};

// The folder a backup run writes into. The root itself is reached by its path
// (the user chose it, links in that path included); every folder below it is
// entered with openat(O_NOFOLLOW) from the root down and created private (0700)
// when missing, so no copy ever writes outside the root through a link, whoever
// planted it. A link where a folder of the backup must be is a failure.
class BackupTarget {
public:
    explicit BackupTarget(std::string rootPath);
    ~BackupTarget();
    BackupTarget(const BackupTarget&) = delete;
    BackupTarget& operator=(const BackupTarget&) = delete;

    bool Usable() const { return root_ >= 0; }
    int OpenError() const { return openError_; }
    const std::string& RootPath() const { return rootPath_; }
    bool Holds(std::string_view path) const;

    // The folder at `path` (the root or below it) opened for reading; -1 with
    // `reason` set when it is missing (and not created), blocked by a link or
    // a file, or fails otherwise. `created` tells whether the last folder was
    // made now. Created folders and, with create, the folder itself are noted
    // as touched.
    int OpenFolder(std::string_view path, bool create, std::string& reason, bool* created = nullptr);

    // The folder at `path` again, through a descriptor of it the caller holds
    // (one OpenFolder gave): what OpenFolder(path, true) gives for a folder
    // that exists, without walking to it from the root again.
    int ReopenFolder(int folder, std::string_view path);

    // Folders created or written into by copies since the last call, deepest first.
    std::vector<std::string> TakeTouchedFolders();
    // Whether copies created or wrote into the folder at `path` since then;
    // it is no longer noted.
    bool TakeTouchedFolder(const std::string& path) { return touched_.erase(path) > 0; }

    // True the first time a folder is named: its stale temporary files are
    // then cleared once per run, not once per file.
    bool FirstVisit(const std::string& folderPath) { return visited_.insert(folderPath).second; }

private:
    std::size_t PrefixLength() const;

    std::string rootPath_;
    int root_ = -1;
    int openError_ = 0;
    std::set<std::string> touched_;
    std::set<std::string> visited_;
};

struct CopyOptions {
    bool showProgress = false;
    // A single source file that is a link: copy what it points to (an entry the
    // user named) or the link itself (a file found inside a backed-up folder).
    bool followSourceLink = true;
    // Holds back a source path found inside a copied folder (isFolder: the
    // whole folder); empty copies everything.
    std::function<bool(const std::string& sourcePath, bool isFolder)> holdsBack;
    // Asked before each entry of a copied folder: true stops the copy there
    // (every file already named stays whole); empty never stops.
    std::function<bool()> stopRequested;
    // Confines every write below the target's root; the destination is then
    // the root (copy into it) or the very path the copy gets.
    BackupTarget* target = nullptr;
    // Inside a target, a single file's copy folder as the caller holds it open
    // (-1: walked to from the root), and whether a copy is there to be
    // replaced (then the new one goes straight to a temporary name).
    int destinationFolder = -1;
    bool replacesCopy = false;
};

// Copies like the desktop shell does, without asking anything:
// - source "<folder>/*.*": every entry of the folder, recursively, dot files
//   included, into the destination folder (which takes the folder's mode and
//   owner for a whole-folder pattern);
// - source a folder: the folder itself into the destination folder when that
//   exists, else the destination becomes the copy;
// - source a file: into the destination when it is an existing folder, else to
//   the destination path itself.
// Inside a folder links are copied as links, never followed. Existing targets
// are overwritten, missing target folders are created, each copy keeps its
// modification time and mode, and its owner and group where the run may set
// them (as root, or for the running user's own files); a copy whose owner
// cannot be kept loses set-user-id and set-group-id. A file gets its name only
// once it is whole (an unnamed file linked in, or a temporary name renamed over
// the old copy), so a failed or killed copy leaves the old copy whole; inside a
// BackupTarget stale temporary files of killed copies are removed. A source
// that does not exist is skipped silently (the outcome says so). Errors go to
// the reporter; progress goes there only when showProgress is true (and once
// more at the end, with the final counts). The small files of a folder are
// copied on a few threads (see FileCopyPool::WorkersToUse), yet the reporter
// and the options' callbacks are called on the caller's thread only, with what
// a copy of one entry after another would report, in the same order.
CopyOutcome ShellCopy(const std::string& source, const std::string& destination, const CopyOptions& options,
                      TransferReporter& reporter);
CopyOutcome ShellCopy(const std::string& source, const std::string& destination, bool showProgress,
                      TransferReporter& reporter);

// Gives a copy (a file or a folder, by descriptor) its source's owner and group
// where allowed, its mode (without set-id bits when the owner could not be
// kept) and times. A folder gets them once its content is in, since creating
// the content changes its time and a read-only mode would keep it out.
void KeepAttributes(int copy, const struct stat& source);

// True for a name of the copy's own temporary pattern (".<name>.part-<pid>-<n>")
// whose process is gone (or is this process, from an earlier copy).
bool IsStaleTemporaryName(std::string_view name);
