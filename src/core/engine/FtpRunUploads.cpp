#include "engine/FtpRunUploads.h"

#include "engine/CopyOperation.h"

#include <sys/stat.h>

#include <cerrno>
#include <utility>

namespace {
// Time-outs in a row after which a run stops waiting for its FTP server.
constexpr int kTimeoutsBeforeGivingUp = 2;
}  // namespace

FtpRunUploads::FtpRunUploads(BackupContext& context, bool incremental,
                             std::function<void(const std::string&)> log)
    : context_(context), run_(context.run), incremental_(incremental), log_(std::move(log)) {}

FtpSession& FtpRunUploads::Session() {
    if (!session_) {
        session_.emplace(
            &context_.reporter, [this] { context_.window.PumpMessages(); }, FtpTimeoutsFromEnvironment());
        session_->UsePassiveMode(run_.ftp.passive);
        session_->UseProtocol(run_.ftp.protocol, context_.settingsFolder);
    }
    return *session_;
}

std::string FtpRunUploads::RemoteBaseText() const {
    return std::string(SchemeOf(run_.ftp.protocol)) + run_.ftp.server + "/" + run_.ftp.remoteBaseDirectory;
}

bool FtpRunUploads::EnsureRemoteBase() {
    if (!remoteBaseChecked_) {
        remoteBaseChecked_ = true;
        const FtpParameters& ftp = run_.ftp;
        FtpEnsureDirectoryPath(Session(), ftp.server, ftp.user, ftp.password, ftp.remoteBaseDirectory);
        remoteUsable_ = Session().LastError().empty();
        if (!remoteUsable_) {
            context_.reporter.ReportError(RemoteBaseText(), Session().LastError());
            notUploadedReason_ = "the FTP server cannot be used";
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
    if (!EnsureRemoteBase() || serverGivenUp_) {
        ++filesNotUploaded_;
        return;
    }
    const FtpParameters& ftp = run_.ftp;
    const std::size_t failuresBefore = run_.failures.size();
    bool failed = false;
    if (incremental_) {
        failed = FtpUploadIfNewer(Session(), localPath, ftp.server, ftp.user, ftp.password, remoteDirectory,
                                  run_.copiedCount, run_.byteTotal, links) == UploadOutcome::Failed;
    } else {
        failed =
            !FtpUploadFile(Session(), localPath, ftp.server, ftp.user, ftp.password, remoteDirectory, links);
        // Only a stored file counts as copied, with the bytes it stored.
        if (!failed) {
            ++run_.copiedCount;
            run_.byteTotal += Session().LastStoredSize();
        }
    }
    if (failed) ReportFailedUpload(localPath, remoteDirectory, failuresBefore);
    NoteUploadEnd(failed);
}

void FtpRunUploads::ReportFailedUpload(const std::string& localPath, const std::string& remoteDirectory,
                                       std::size_t failuresBefore) {
    // The transfer may have reported the error itself already.
    if (run_.failures.size() != failuresBefore) return;
    std::string reason = "upload to " + std::string(SchemeOf(run_.ftp.protocol)) + run_.ftp.server + "/" +
                         remoteDirectory + " failed";
    if (!Session().LastError().empty()) reason += ": " + Session().LastError();
    context_.reporter.ReportError(localPath, reason);
}

// A server that accepts a file and then says nothing would cost the stall
// time for every remaining file.
void FtpRunUploads::NoteUploadEnd(bool failed) {
    consecutiveTimeouts_ = failed && Session().LastFailureTimedOut() ? consecutiveTimeouts_ + 1 : 0;
    if (consecutiveTimeouts_ < kTimeoutsBeforeGivingUp) return;
    serverGivenUp_ = true;
    notUploadedReason_ = "the FTP server stopped answering (" + std::to_string(kTimeoutsBeforeGivingUp) +
                         " time-outs in a row)";
}

void FtpRunUploads::ReportFilesNotUploaded() {
    if (filesNotUploaded_ == 0) return;
    const std::string files =
        filesNotUploaded_ == 1 ? "1 file" : std::to_string(filesNotUploaded_) + " files";
    context_.reporter.ReportError(RemoteBaseText(), files + " not uploaded: " + notUploadedReason_);
}
