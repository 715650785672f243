#include "engine/RunPlan.h"

#include "engine/BackupLayout.h"
#include "engine/CopyOperation.h"
#include "engine/FailureCollectingReporter.h"
#include "sources/Entries.h"
#include "storage/OptionString.h"

#include <numeric>

namespace {
class RunPlanner {
public:
    explicit RunPlanner(BackupContext& context)
        : context_(context),
          setup_(context.setup),
          toFtp_(IsFtpDestination(setup_.destination)),
          incremental_(setup_.backupMode != 0) {
        plan_.changesChecked = !(toFtp_ && incremental_);
        root_ = toFtp_ ? DecodeFtpDestination(setup_.destination).remoteBaseDirectory
                       : BackupRoot(setup_.destination);
    }

    RunPlan Plan() {
        RunState& run = context_.run;
        run.exceptions.clear();
        for (const std::string& entry : setup_.entries)
            if (IsExceptionEntry(entry)) run.exceptions.push_back(entry.substr(1));
        const bool indexNames = OptionIsOne(setup_.optionFlags, Option::kIndexNames);
        for (std::size_t i = 0; i < setup_.entries.size(); ++i) {
            const std::string& entry = setup_.entries[i];
            if (IsExceptionEntry(entry)) continue;
            if (IsFolderEntry(entry))
                PlanFolder(entry, EntryFolderName(entry, i, indexNames));
            else
                PlanFile(entry);
        }
        return std::move(plan_);
    }

private:
    void PlanFile(const std::string& entry) {
        ++plan_.scannedCount;
        if (IsExcluded(context_.run.exceptions, entry)) return;
        RecentFolders folders;
        const ModificationStatus source = folders.SourceStatus(entry, true);
        if (!source.exists) return ReportMissingSource(context_, entry, source.error);
        const std::string destination = toFtp_ ? root_ : root_ + "/" + FileNameOf(entry);
        Consider(entry, source, destination, folders);
    }

    void PlanFolder(const std::string& entry, const std::string& folderName) {
        context_.run.foundFiles.clear();
        WalkFolder(context_, entry);
        // A full local copy counts the folder as one item; the others each file.
        if (!incremental_ && !toFtp_) ++plan_.scannedCount;
        RecentFolders folders;
        for (const std::string& file : context_.run.foundFiles) {
            if (incremental_ || toFtp_) ++plan_.scannedCount;
            if (IsExcluded(context_.run.exceptions, file)) continue;
            const ModificationStatus source = folders.SourceStatus(file, false);
            if (!source.exists) {
                ReportMissingSource(context_, file, source.error);
                continue;
            }
            // The server stores no links: the run leaves them out.
            if (toFtp_ && source.isLink) continue;
            const std::string relative = RelativePath(file, entry);
            const std::string destination = toFtp_ ? root_ + "/" + folderName + RelativeFolder(relative)
                                                   : root_ + "/" + folderName + relative;
            Consider(file, source, destination, folders);
        }
    }

    // The changed-file rule decides for an incremental local copy; a full one
    // copies everything.
    void Consider(const std::string& path, const ModificationStatus& source, const std::string& destination,
                  RecentFolders& folders) {
        if (incremental_ && !toFtp_ && SameCopy(source, folders.DestinationStatus(destination))) return;
        plan_.copies.push_back({path, destination, source.isLink ? 0 : source.size});
    }

    BackupContext& context_;
    const BackupSetup& setup_;
    const bool toFtp_;
    const bool incremental_;
    std::string root_;
    RunPlan plan_;
};
}  // namespace

std::uint64_t RunPlan::TotalSize() const {
    return std::accumulate(copies.begin(), copies.end(), std::uint64_t{0},
                           [](std::uint64_t sum, const PlannedCopy& copy) { return sum + copy.size; });
}

RunPlan PlanRun(BackupContext& owner) {
    FailureCollectingReporter reporter(owner.reporter, owner.run);
    BackupContext context{owner.setup,          owner.run,           owner.window,      owner.texts, reporter,
                          owner.settingsFolder, owner.programFolder, owner.commandLine, owner.clock};
    return RunPlanner(context).Plan();
}
