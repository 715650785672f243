#include "engine/FtpRunUploads.h"

#include "engine/CopyOperation.h"
#include "sources/RemoteProtocol.h"

#include <sys/stat.h>

#include <cerrno>
#include <utility>

namespace {
// Files queued or moving at most; more wait in the run's own loop, so the
// walk's list is not copied whole into the queue.
constexpr std::size_t kMostOutstanding = 256;
constexpr auto kWaitStep = std::chrono::milliseconds(50);
}  // namespace

FtpRunUploads::FtpRunUploads(BackupContext& context, bool incremental,
                             std::function<void(const std::string&)> log)
    : context_(context), run_(context.run), log_(std::move(log)) {
    settings_.ftp = run_.ftp;
    settings_.settingsFolder = context_.settingsFolder;
    settings_.incremental = incremental;
    settings_.connections = RemoteConnectionsFromEnvironment();
    settings_.timeouts = FtpTimeoutsFromEnvironment();
}

std::string FtpRunUploads::RemoteBaseText() const {
    return std::string(SchemeOf(run_.ftp.protocol)) + run_.ftp.server + "/" + run_.ftp.remoteBaseDirectory;
}

bool FtpRunUploads::EnsureRemoteBase() {
    if (!pool_) {
        pool_.emplace(settings_);
        const std::string error = pool_->Open([this] { WhileWaiting(); });
        remoteUsable_ = error.empty();
        // A run stopped while logging in has nothing to report.
        if (!remoteUsable_ && !run_.cancelRequested) {
            context_.reporter.ReportError(RemoteBaseText(), error);
            notUploadedReason_ = ProtocolOfText(context_.setup.destination) == RemoteProtocol::Sftp
                                     ? "the SFTP server cannot be used"
                                     : "the FTP server cannot be used";
        }
    }
    return remoteUsable_;
}

void FtpRunUploads::UploadEntryFile(const std::string& entry) {
    if (IsExcluded(run_.exceptions, entry)) return;
    UploadToServer(entry, run_.ftp.remoteBaseDirectory, LocalLinks::Follow);
}

// FTP stores no links, and what one points to may lie anywhere on this
// machine: a link the walk found is left out and named in the log.
void FtpRunUploads::UploadFoundFile(const std::string& file, const std::string& remoteDirectory) {
    if (IsExcluded(run_.exceptions, file)) return;
    struct stat status {};
    if (::lstat(file.c_str(), &status) != 0 && errno == ENOENT) {
        context_.reporter.ReportError(file, "not uploaded: it was deleted after the folder was read");
        return;
    }
    if (S_ISLNK(status.st_mode)) {
        log_(context_.texts.GetText(TextId::LogLinkNotUploaded) + " " + file);
        return;
    }
    UploadToServer(file, remoteDirectory, LocalLinks::Refuse);
}

void FtpRunUploads::UploadToServer(const std::string& localPath, const std::string& remoteDirectory,
                                   LocalLinks links) {
    if (!EnsureRemoteBase() || pool_->GivenUp()) {
        ++filesNotUploaded_;
        return;
    }
    pool_->Submit({localPath, remoteDirectory, links});
    TakeResults();
    while (pool_->Outstanding() >= kMostOutstanding && !run_.cancelRequested) WaitABit();
}

void FtpRunUploads::WaitABit() {
    pool_->WaitForResults(kWaitStep);
    WhileWaiting();
    TakeResults();
}

// The window's events, the stop request and the progress of the transfers,
// at least every 50 ms while the run waits for its connections.
void FtpRunUploads::WhileWaiting() {
    context_.window.PumpMessages();
    if (run_.cancelRequested && pool_) pool_->Cancel();
    if (pool_)
        if (const std::optional<TransferProgress> progress = pool_->TakeProgress())
            context_.reporter.ReportProgress(*progress);
}

void FtpRunUploads::TakeResults() {
    for (const UploadResult& result : pool_->TakeResults()) Count(result);
}

// Only a stored file counts as copied, with the bytes it stored.
void FtpRunUploads::Count(const UploadResult& result) {
    switch (result.kind) {
        case UploadResult::Kind::Uploaded:
            ++run_.copiedCount;
            run_.byteTotal += result.storedSize;
            break;
        case UploadResult::Kind::Failed: {
            std::string reason = "upload to " + std::string(SchemeOf(run_.ftp.protocol)) + run_.ftp.server +
                                 "/" + result.task.remoteDirectory + " failed";
            if (!result.error.empty()) reason += ": " + result.error;
            context_.reporter.ReportError(result.task.localPath, reason);
            break;
        }
        case UploadResult::Kind::NotTried:
            ++filesNotUploaded_;
            break;
        case UploadResult::Kind::Skipped:
        case UploadResult::Kind::Cancelled:
            break;
    }
}

void FtpRunUploads::Finish() {
    if (pool_) {
        while (!pool_->Done()) WaitABit();
        if (pool_->GivenUp())
            notUploadedReason_ = "the FTP server stopped answering (" +
                                 std::to_string(FtpUploadPool::kTimeoutsBeforeGivingUp) +
                                 " time-outs in a row)";
    }
    if (filesNotUploaded_ == 0) return;
    const std::string files =
        filesNotUploaded_ == 1 ? "1 file" : std::to_string(filesNotUploaded_) + " files";
    context_.reporter.ReportError(RemoteBaseText(), files + " not uploaded: " + notUploadedReason_);
}
