#include "engine/ProgressTracking.h"

#include "engine/CopyOperation.h"
#include "util/SafeFormat.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstring>
#include <vector>

namespace {
// Pumps of the counting walk: often enough for the window, rare enough that the
// walk stays a small part of the run.
constexpr std::int64_t kPumpIntervalNs = 20'000'000;

class TotalsCounter {
public:
    explicit TotalsCounter(BackupContext& context) : context_(context), run_(context.run) {}

    void CountEntry(const std::string& entry) {
        if (IsFolderEntry(entry)) return CountFolder(entry.substr(0, entry.size() - 4), true);
        struct stat status {};
        if (::stat(entry.c_str(), &status) != 0) return;
        run_.progress.Counted(S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0);
    }

private:
    // The listing is read whole before any subfolder, so a deep tree never
    // holds more than one folder open.
    void CountFolder(const std::string& path, bool entryFolder) {
        if (run_.cancelRequested) return;
        const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (entryFolder ? 0 : O_NOFOLLOW);
        const int descriptor = ::open(path.empty() ? "/" : path.c_str(), flags);
        DIR* folder = descriptor < 0 ? nullptr : ::fdopendir(descriptor);
        if (folder == nullptr) {
            if (descriptor >= 0) ::close(descriptor);
            return;
        }
        std::vector<std::string> subfolders;
        while (const dirent* entry = ::readdir(folder)) {
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            struct stat status {};
            if (entry->d_type == DT_DIR) {
                subfolders.emplace_back(name);
            } else if (entry->d_type == DT_LNK) {
                CountFile(path, name, 0);
            } else if (::fstatat(::dirfd(folder), name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISDIR(status.st_mode))
                    subfolders.emplace_back(name);
                else if (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode))
                    CountFile(path, name,
                              S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0);
            }
            Pump();
        }
        ::closedir(folder);
        for (const std::string& name : subfolders) {
            const std::string subfolder = path + "/" + name;
            if (!IsFolderExcluded(run_.exceptions, subfolder)) CountFolder(subfolder, false);
        }
    }

    void CountFile(const std::string& folder, const char* name, std::uint64_t bytes) {
        if (!run_.exceptions.empty() && IsExcluded(run_.exceptions, folder + "/" + name)) return;
        run_.progress.Counted(bytes);
    }

    void Pump() {
        const std::int64_t now = ProgressClockNs();
        if (now - lastPumpNs_ < kPumpIntervalNs) return;
        lastPumpNs_ = now;
        ShowRunProgress(context_);
        context_.window.PumpMessages();
    }

    BackupContext& context_;
    RunState& run_;
    std::int64_t lastPumpNs_ = ProgressClockNs();
};
}  // namespace

void ProgressTrackingReporter::ReportProgress(const TransferProgress& progress) {
    context_.run.progress.Absorb(progress);
    ShowRunProgress(context_);
    inner_.ReportProgress(progress);
}

void CountRunTotals(BackupContext& context) {
    TotalsCounter counter(context);
    for (const std::string& entry : context.setup.entries) {
        if (context.run.cancelRequested) return;
        if (IsExceptionEntry(entry) || IsExcluded(context.run.exceptions, entry)) continue;
        counter.CountEntry(entry);
    }
}

void ShowRunProgress(BackupContext& context, bool force) {
    if (!context.showProgress || !context.run.progress.TakeDisplayTurn(ProgressClockNs(), force)) return;
    context.window.ShowProgress(context.run.progress);
}

void SettleFile(BackupContext& context, const std::string& path, std::uint64_t bytes) {
    context.run.progress.Settled(path, bytes);
    if (context.showProgress) ShowRunProgress(context);
}

ProgressTexts DescribeProgress(const RunProgress& progress, const CTranslation& texts, std::int64_t nowNs) {
    if (progress.Counting())
        return {FormatText(texts.GetText(TextId::ProgressCounting),
                           static_cast<std::int64_t>(progress.FilesTotal())),
                {},
                {}};
    const std::int64_t secondsLeft = progress.SecondsLeft(nowNs);
    return {FormatText(texts.GetText(TextId::ProgressFiles),
                       std::to_string(progress.FilesDone()) + " / " + std::to_string(progress.FilesTotal())),
            FormatText(texts.GetText(TextId::ProgressData), ProgressSizeText(progress.BytesDone()) + " / " +
                                                                ProgressSizeText(progress.BytesTotal())),
            secondsLeft < 0 ? texts.GetText(TextId::ProgressEstimating)
                            : FormatText(texts.GetText(TextId::ProgressTimeLeft), DurationText(secondsLeft))};
}
