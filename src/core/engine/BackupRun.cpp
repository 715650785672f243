#include "engine/BackupEngine.h"
#include "engine/BackupLayout.h"
#include "engine/CopyOperation.h"
#include "engine/Countdown.h"
#include "engine/FailureCollectingReporter.h"
#include "engine/FtpRunUploads.h"
#include "engine/ProgressTracking.h"
#include "engine/ProjectSave.h"
#include "engine/RunLock.h"
#include "engine/RunReport.h"
#include "platform/ProcessInfo.h"
#include "sources/Entries.h"
#include "storage/HistoryLog.h"
#include "storage/OptionString.h"
#include "util/FileError.h"
#include "util/FileStatus.h"
#include "util/SafeFormat.h"
#include "util/ShortenedPath.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

namespace {
constexpr int kWaitStepMilliseconds = 1000;
constexpr std::size_t kStatusPathLength = 50;
constexpr std::size_t kStatusPathHead = 15;

// One run over the whole entry list. It works on a copy of the owner's context
// whose reporter records every error as a failure of the run.
class BackupRunner {
public:
    BackupRunner(BackupContext& owner, TransferReporter& reporter)
        : context_{owner.setup,         owner.run,         owner.window,
                   owner.texts,         reporter,          owner.settingsFolder,
                   owner.programFolder, owner.commandLine, owner.clock,
                   owner.showProgress},
          setup_(owner.setup),
          run_(owner.run),
          window_(owner.window),
          texts_(owner.texts) {}

    RunOutcome Run() {
        Begin();
        WaitAfterAutomaticStart();
        Prepare();
        BackUpEntries();
        const bool cancelled = run_.cancelRequested;
        Finish(cancelled);
        return cancelled ? RunOutcome::Cancelled : RunOutcome::Finished;
    }

private:
    bool Incremental() const { return setup_.backupMode != 0; }
    bool ToFtp() const { return IsRemoteDestination(setup_.destination); }
    bool FullLocal() const { return !Incremental() && !ToFtp(); }
    bool Logging() const { return OptionIsOne(setup_.optionFlags, Option::kWriteLog); }
    std::string Text(TextId id) const { return texts_.GetText(id); }
    std::string Now() const { return GetDateTimeText(context_.clock); }

    void ShowCountdown(const std::string& text) {
        run_.countdownText = text;
        window_.Refresh();
    }

    void Log(const std::string& text) {
        if (!Logging()) return;
        const std::string logPath = HistoryLogPath(context_.settingsFolder, context_.programFolder);
        try {
            AppendToHistory(logPath, text);
        } catch (const FileError& error) {
            context_.reporter.ReportError(error.path(), FileErrorReason(error));
        }
    }

    // The controls go dark and the running flag is up from here on, the wait
    // included, so nothing can start a second run meanwhile.
    void Begin() {
        run_.running = true;
        run_.cancelRequested = false;
        run_.failures = std::exchange(run_.failuresBeforeRun, {});
        window_.SetRunning(true);
        window_.StopTimer();
    }

    // A session that was started with the desktop session waits before each
    // run, so the desktop can settle; the wait keeps the window alive and can be
    // cut short with the stop request.
    void WaitAfterAutomaticStart() {
        if (!IsStartedAutomatically(context_.commandLine)) return;
        const int minutes = OptionWaitMinutes(setup_.optionFlags);
        ShowCountdown(FormatText(Text(TextId::AutostartWait), minutes));
        const long long total = static_cast<long long>(minutes) * 60'000;
        for (long long waited = 0; waited < total && !run_.cancelRequested;) {
            const int step = static_cast<int>(std::min<long long>(kWaitStepMilliseconds, total - waited));
            window_.WaitMilliseconds(step);
            waited += step;
        }
    }

    void Prepare() {
        window_.Refresh();
        run_.reportLines.clear();
        run_.scannedCount = 0;
        run_.copiedCount = 0;
        run_.byteTotal = 0;
        run_.reportLines.push_back(Now() + Text(TextId::RunStarted));
        ShowCountdown(Text(TextId::BackupRunning));
        if (Logging()) {
            Log("\n\n\n-------------------\n");
            Log(run_.reportLines.front());
        }
        run_.exceptions.clear();
        for (const std::string& entry : setup_.entries)
            if (IsExceptionEntry(entry)) run_.exceptions.push_back(entry.substr(1));
        if (ToFtp()) run_.ftp = DecodeFtpDestination(setup_.destination);
    }

    bool HasEntriesToCopy() const {
        for (const std::string& entry : setup_.entries)
            if (!IsExceptionEntry(entry)) return true;
        return false;
    }

    // The destination's form was checked before the run began (see RunBackup);
    // what is left is whether the local backup folder can be had.
    bool DestinationUsable() {
        if (ToFtp()) return true;
        backupRoot_ = BackupRoot(setup_.destination);
        // Without the root, the first single file would be copied to a file
        // named like the root instead of into it. Below it every copy keeps its
        // source's mode, so the users whose files it holds can read their own copies.
        std::error_code error;
        std::filesystem::create_directories(backupRoot_, error);
        target_.emplace(backupRoot_);
        if (!target_->Usable()) {
            const int openError = target_->OpenError();
            context_.reporter.ReportError(backupRoot_, error                  ? error.message()
                                                       : openError == ENOTDIR ? std::string("not a folder")
                                                                              : std::strerror(openError));
            return false;
        }
        return true;
    }

    void BackUpEntries() {
        if (run_.cancelRequested || !HasEntriesToCopy() || !DestinationUsable()) return;
        StartProgress();
        for (std::size_t i = 0; i < setup_.entries.size(); ++i) {
            const std::string entry = setup_.entries[i];
            if (IsExceptionEntry(entry) || run_.cancelRequested) continue;
            if (IsFolderEntry(entry))
                BackUpFolder(entry, i);
            else
                BackUpFile(entry);
        }
        if (uploads_) uploads_->Finish();
    }

    // Every run keeps its progress; only one that shows it pays for the counting walk.
    void StartProgress() {
        progressStarted_ = true;
        run_.progress.Begin(ProgressClockNs());
        if (context_.showProgress) {
            ShowRunProgress(context_, true);
            CountRunTotals(context_);
        }
        run_.progress.CountingDone(ProgressClockNs());
        ShowRunProgress(context_, true);
    }

    // An upload (or the check that made it needless) is one operation of the
    // progress, which ends with the file's whole size handled.
    template <typename Upload>
    void UploadWithProgress(const std::string& file, Upload upload) {
        run_.progress.BeginOperation();
        upload();
        struct stat status {};
        const bool sized =
            context_.showProgress && ::stat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode);
        run_.progress.EndOperation(1, sized ? static_cast<std::uint64_t>(status.st_size) : 0);
        ShowRunProgress(context_);
    }

    void BackUpFolder(const std::string& entry, std::size_t index) {
        const std::string folderName =
            EntryFolderName(entry, index, OptionIsOne(setup_.optionFlags, Option::kIndexNames));
        if (!Incremental() && !ToFtp()) return FullLocalFolder(entry, folderName);
        if (!Incremental()) return FullFtpFolder(entry, folderName);
        if (!ToFtp()) return IncrementalLocalFolder(entry, folderName);
        IncrementalFtpFolder(entry, folderName);
    }

    void BackUpFile(const std::string& entry) {
        ++run_.scannedCount;
        if (ToFtp())
            UploadWithProgress(entry, [&] { Uploads().UploadEntryFile(entry); });
        else if (Incremental())
            CopyIfChanged(context_, entry, backupRoot_ + "/" + FileNameOf(entry), &*target_);
        else
            FullLocalFile(entry);
    }

    CopyOptions LocalCopyOptions() {
        CopyOptions options;
        options.target = &*target_;
        return options;
    }

    // Counted and logged only when the file really was copied.
    void FullLocalFile(const std::string& entry) {
        const CopyResult result = CopyItem(context_, entry, backupRoot_, LocalCopyOptions());
        if (result.status == CopyStatus::Missing) return ReportMissingSource(context_, entry);
        if (result.status != CopyStatus::Copied || result.outcome.filesCopied == 0) return;
        ++run_.copiedCount;
        run_.byteTotal += result.outcome.bytesCopied;
        Log(Text(TextId::LogCopiedFile) + " " + entry);
    }

    // One copy of "<folder>/*.*" for the whole tree; it counts as one copy
    // when anything of it was copied (failures are reported one by one).
    void FullLocalFolder(const std::string& entry, const std::string& folderName) {
        const std::string pattern = WholeFolderPattern(entry);
        ++run_.scannedCount;
        const CopyResult result =
            CopyItem(context_, pattern, backupRoot_ + "/" + folderName, LocalCopyOptions());
        if (result.status == CopyStatus::Missing) return ReportMissingFolder(context_, entry);
        // A folder of which nothing could be copied is not a copy.
        const CopyOutcome& outcome = result.outcome;
        if (result.status != CopyStatus::Copied || (outcome.errors > 0 && outcome.filesCopied == 0)) return;
        Log(Text(TextId::LogCopiedFolder) + " " + pattern);
        ++run_.copiedCount;
        run_.byteTotal += result.outcome.bytesCopied;
    }

    void FindFiles(const std::string& entry) {
        run_.foundFiles.clear();
        WalkFolder(context_, entry);
    }

    std::string StatusWithPath(TextId prefix, const std::string& path) const {
        return Text(prefix) + " " + ShortenPath(path, kStatusPathLength, kStatusPathHead) + ")";
    }

    std::string RemoteFolderFor(const std::string& foundFile, const std::string& entry,
                                const std::string& folderName) const {
        return run_.ftp.remoteBaseDirectory + "/" + folderName +
               RelativeFolder(RelativePath(foundFile, entry));
    }

    void FullFtpFolder(const std::string& entry, const std::string& folderName) {
        FindFiles(entry);
        ShowCountdown(Text(TextId::FullFtpUploadPrefix) + ")");
        Uploads().EnsureRemoteBase();
        Log(Text(TextId::LogCopiedFolder) + " " + entry);
        for (const std::string& file : run_.foundFiles) {
            if (run_.cancelRequested) break;
            ShowCountdown(StatusWithPath(TextId::FullFtpUploadPrefix, file));
            window_.PumpMessages();
            ++run_.scannedCount;
            UploadWithProgress(
                file, [&] { Uploads().UploadFoundFile(file, RemoteFolderFor(file, entry, folderName)); });
        }
    }

    void IncrementalLocalFolder(const std::string& entry, const std::string& folderName) {
        window_.Refresh();
        ShowCountdown(Text(TextId::SearchingChangedFiles));
        const std::string target = backupRoot_ + "/" + folderName;
        CopyChangedFiles(context_, entry, target, *target_);
        KeepTouchedFolderAttributes(*target_, entry.substr(0, entry.size() - 4), target);
    }

    void IncrementalFtpFolder(const std::string& entry, const std::string& folderName) {
        window_.Refresh();
        FindFiles(entry);
        ShowCountdown(Text(TextId::SearchingChangedFiles));
        for (const std::string& file : run_.foundFiles) {
            if (run_.cancelRequested) break;
            ++run_.scannedCount;
            window_.PumpMessages();
            ShowCountdown(StatusWithPath(TextId::IncrementalFtpUploadPrefix, file));
            UploadWithProgress(
                file, [&] { Uploads().UploadFoundFile(file, RemoteFolderFor(file, entry, folderName)); });
        }
    }

    FtpRunUploads& Uploads() {
        if (!uploads_)
            uploads_.emplace(context_, Incremental(), [this](const std::string& line) { Log(line); });
        return *uploads_;
    }

    // A cancelled run ends with a line of its own and is no completed backup:
    // the last run stays as it was, so the real-time scheduler still sees the
    // backup as due. The countdown restarts either way, so a stopped run is not
    // started again at the next tick.
    void Finish(bool cancelled) {
        // The final figures, so a display ends at what was really done.
        if (progressStarted_) ShowRunProgress(context_, true);
        window_.HideProgress();
        ShowCountdown("");
        const std::string endLine = Now() + Text(cancelled ? TextId::RunCancelled : TextId::RunEnded);
        if (Logging()) {
            // Only the failures known now; a log line that fails adds one more.
            const std::size_t failureCount = run_.failures.size();
            for (std::size_t i = 0; i < failureCount; ++i) Log(Text(TextId::LogFailure) + run_.failures[i]);
            if (!FullLocal()) {
                Log(Text(TextId::ScannedPrefix) + std::to_string(run_.scannedCount));
                Log(Text(TextId::CopiedPrefix) + std::to_string(run_.copiedCount));
                Log(Text(TextId::SizePrefix) + " " + SizeText(run_.byteTotal));
            }
            Log(endLine);
        }
        run_.reportLines.push_back(endLine);
        if (OptionIsOne(setup_.optionFlags, Option::kStatusMessage))
            window_.ShowMessage(SummaryText(texts_, run_, !FullLocal(), endLine),
                                Text(TextId::MessageCaption));

        if (!cancelled) setup_.lastRun = Now().substr(0, 16);
        run_.countdownText = CountdownText(texts_, setup_, setup_.interval);
        window_.SetRunning(false);
        run_.running = false;
        window_.Refresh();
        window_.StartTimer();
        setup_.minutesRemaining = setup_.interval;
        SaveCurrentProject(context_);
    }

    BackupContext context_;
    BackupSetup& setup_;
    RunState& run_;
    BackupWindow& window_;
    const CTranslation& texts_;
    std::string backupRoot_;
    std::optional<BackupTarget> target_;  // the local backup root, once usable
    std::optional<FtpRunUploads> uploads_;
    bool progressStarted_ = false;
};

// Nothing starts: the run would write where the user never meant it to. The
// minutes remaining stay as they are, so once the destination is mended the
// next tick backs up.
TextId RefusalText(DestinationFault fault) {
    switch (fault) {
        case DestinationFault::NoFtpServer:
            return TextId::RefusedNoFtpServer;
        case DestinationFault::NoFolderSuffix:
            return TextId::RefusedNoFolderSuffix;
        case DestinationFault::NotAbsolute:
            return TextId::RefusedNotAbsolute;
        case DestinationFault::NoFolder:
            return TextId::RefusedNoFolder;
        case DestinationFault::None:
        case DestinationFault::NotSet:
            break;
    }
    return TextId::RefusedNoDestination;
}

RunOutcome RefuseDestination(BackupContext& context, DestinationFault fault) {
    context.run.countdownText = FormatText(context.texts.GetText(RefusalText(fault)),
                                           DestinationForMessages(context.setup.destination));
    context.window.SetStatusLine(context.run.countdownText);
    context.window.ShowMessage(context.run.countdownText, context.texts.GetText(TextId::MessageCaption));
    return RunOutcome::DestinationRefused;
}
}  // namespace

RunOutcome RunBackup(BackupContext& context) {
    if (context.run.running) return RunOutcome::AlreadyRunning;
    if (const DestinationFault fault = FindDestinationFault(context.setup.destination);
        fault != DestinationFault::None)
        return RefuseDestination(context, fault);
    const RunLock lock(context.settingsFolder);
    if (!lock.Held()) {
        // Minutes remaining stay as they are (0 from a due tick), so the next
        // tick tries again.
        context.run.countdownText = context.texts.GetText(TextId::RunLockedElsewhere);
        context.window.SetStatusLine(context.run.countdownText);
        return RunOutcome::LockedElsewhere;
    }
    FailureCollectingReporter failures(context.reporter, context.run);
    ProgressTrackingReporter reporter(failures, context);
    BackupRunner runner(context, reporter);
    return runner.Run();
}
