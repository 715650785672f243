#pragma once

#include "platform/TransferReporter.h"
#include "storage/BackupSetup.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Getting files back from a project's destination: where each backed-up file's
// copy lies follows the run's layout (the backup root, entry folder names or
// index names, the remote base folder).

enum class RestoreAction {
    Restore,    // the copy goes to the target
    SkipNewer,  // the file at the target is newer than the copy and stays
    Missing,    // there is no backup copy to restore
};

struct RestoreItem {
    std::string original;    // where the file was backed up from
    std::string target;      // where it goes: the original place or below the chosen folder
    std::string backupCopy;  // the copy as the user would look for it (an ftp:// address on a server)
    RestoreAction action = RestoreAction::Restore;
    std::uint64_t size = 0;
    // Below: what the copy machinery needs.
    std::string copyPath;    // local path, or the path on the server
    std::string copyFolder;  // the folder entry's copy that holds it; empty for a file entry
    struct timespec modified {};
};

struct RestoreRequest {
    // Empty: every file goes back to its original place; otherwise below this
    // folder, under its original absolute path.
    std::string targetFolder;
    // Original paths (files or folders) the restore is limited to; empty: all.
    std::vector<std::string> limitPaths;
    bool overwriteNewer = false;
};

struct RestorePlan {
    std::vector<RestoreItem> items;
    std::size_t Count(RestoreAction action) const;
    // Bytes of the copies that would be restored.
    std::uint64_t RestoreSize() const;
};

class BackupCopies;
struct FoundCopy;

// One restore from one project's destination. Every failure (a destination
// or a folder of it that cannot be read, a copy that cannot be written) goes to
// the reporter and is counted.
class Restorer {
public:
    // settingsFolder holds the server certificates the user trusted (none
    // when empty).
    Restorer(const BackupSetup& setup, TransferReporter& reporter, const std::string& settingsFolder = {});
    ~Restorer();
    Restorer(const Restorer&) = delete;
    Restorer& operator=(const Restorer&) = delete;

    // What a restore would do; changes nothing.
    RestorePlan Plan(const RestoreRequest& request);

    // Puts back every item of the plan marked Restore: written under a
    // temporary name and renamed, with the copy's modification time; a link
    // stays a link. Folders the restore creates get the mode, owner and times
    // of their copies where the destination keeps them. restored is told of each file that is in place.
    // Returns the bytes restored.
    std::uint64_t CarryOut(const RestorePlan& plan, const std::function<void(const RestoreItem&)>& restored);

    std::size_t FailureCount() const;

private:
    class CountingReporter;
    void PlanFolderEntry(const std::string& entry, std::size_t index);
    void PlanFileEntry(const std::string& entry, const std::vector<FoundCopy>& rootCopies);
    void AddCopy(std::string original, std::string copyPath, const FoundCopy& copy, std::string copyFolder);
    void AddMissing(std::string original, std::string copyPath);
    std::string TargetFor(const std::string& original, bool throughLink) const;
    void NoteMissingFolders(const RestoreItem& item,
                            std::map<std::string, std::string, std::greater<>>& folders);
    void AddUnmatchedLimits();
    bool InScope(const std::string& original) const;
    bool TouchesScope(const std::string& folder) const;
    bool Excluded(const std::string& original) const;

    const BackupSetup& setup_;
    std::unique_ptr<CountingReporter> reporter_;
    std::unique_ptr<BackupCopies> copies_;
    RestoreRequest request_;
    std::vector<std::string> exceptions_;
    RestorePlan plan_;
};

// An absolute, normalised form of a path given by the user ("/" separated, no
// trailing "/", relative ones taken from the current folder).
std::string AbsoluteNormalPath(const std::string& path);
