#include "sources/FtpTransfer.h"

#include "sources/FtpRemotePath.h"
#include "sources/FtpServerAddress.h"
#include "sources/FtpSessionImpl.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>

namespace {

std::int32_t LocalDayStamp(std::time_t time) {
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) return 0;
    return DayNumber(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

// A password of a few characters could appear in any text by chance; a longer
// one in an error text can only have come from the input.
void RemovePassword(std::string& text, const std::string& password) {
    if (password.size() < 4) return;
    for (std::size_t at = text.find(password); at != std::string::npos; at = text.find(password, at))
        text.replace(at, password.size(), "****");
}

// Runs one operation: refuses to nest inside another on the same session (a
// pump can run window commands), and turns any exception into a failure.
template <typename Result, typename Operation>
Result Run(FtpSession& session, const std::string& password, Result failure, Operation operation) {
    FtpSession::Impl& impl = session.impl();
    if (impl.busy) {
        impl.lastError = "another FTP transfer is still running";
        return failure;
    }
    impl.busy = true;
    impl.lastError.clear();
    impl.lastTimedOut = false;
    impl.lastStoredSize = 0;
    Result result = failure;
    try {
        result = operation(impl);
    } catch (const std::exception& error) {
        impl.lastError = error.what();
    } catch (...) {
        impl.lastError = "unexpected failure";
    }
    impl.busy = false;
    RemovePassword(impl.lastError, password);
    return result;
}

bool Upload(FtpSession::Impl& impl, const std::string& localPath, const std::string& server,
            const std::string& user, const std::string& password, const std::string& remoteDirectory,
            LocalLinks links) {
    const std::string name = ftp_path::FileNameOf(localPath);
    return impl.Begin(StripFtpScheme(server), user, password, {&remoteDirectory, &name}) &&
           impl.UploadFile(localPath, remoteDirectory, links);
}

constexpr int kLongestTimeoutSeconds = 3600;

}  // namespace

FtpTimeouts FtpTimeoutsFromEnvironment() {
    FtpTimeouts timeouts;
    const char* text = std::getenv("TARNWICK_FTP_TIMEOUT_SECONDS");
    if (text == nullptr) return timeouts;
    const char* end = text + std::strlen(text);
    int seconds = 0;
    const auto [stop, error] = std::from_chars(text, end, seconds);
    if (error != std::errc() || stop != end || seconds < 1 || seconds > kLongestTimeoutSeconds)
        return timeouts;
    timeouts.connect = std::chrono::seconds(seconds);
    timeouts.stall = std::chrono::seconds(seconds);
    return timeouts;
}

FtpSession::FtpSession(TransferReporter* reporter, std::function<void()> pump, FtpTimeouts timeouts)
    : impl_(std::make_unique<Impl>(reporter, std::move(pump), timeouts)) {}

FtpSession::~FtpSession() = default;

void FtpSession::UsePassiveMode(bool passive) {
    impl_->connection.UsePassiveMode(passive);
}

void FtpSession::UseProtocol(RemoteProtocol protocol, std::string settingsFolder) {
    impl_->protocol = protocol;
    impl_->settingsFolder = std::move(settingsFolder);
}

const std::optional<CertificateIdentity>& FtpSession::UnverifiedCertificate() const {
    return impl_->connection.UnverifiedCertificate();
}

const std::string& FtpSession::LastError() const {
    return impl_->lastError;
}

bool FtpSession::LastFailureTimedOut() const {
    return impl_->lastTimedOut;
}

std::uint64_t FtpSession::LastStoredSize() const {
    return impl_->lastStoredSize;
}

void FtpSession::AbortWhen(std::function<bool()> shouldStop) {
    impl_->connection.AbortWhen(std::move(shouldStop));
}

bool FtpUploadFile(FtpSession& session, const std::string& localPath, const std::string& server,
                   const std::string& user, const std::string& password, const std::string& remoteDirectory,
                   LocalLinks links) {
    return Run(session, password, false, [&](FtpSession::Impl& impl) {
        return Upload(impl, localPath, server, user, password, remoteDirectory, links);
    });
}

UploadOutcome FtpUploadIfNewer(FtpSession& session, const std::string& localPath, const std::string& server,
                               const std::string& user, const std::string& password,
                               const std::string& remoteDirectory, std::int32_t& copiedCount,
                               std::uint64_t& byteTotal, LocalLinks links) {
    return Run(session, password, UploadOutcome::Failed, [&](FtpSession::Impl& impl) {
        struct stat status {};
        const bool localExists = (links == LocalLinks::Follow ? stat(localPath.c_str(), &status)
                                                              : lstat(localPath.c_str(), &status)) == 0;
        const std::int32_t localStamp = localExists ? LocalDayStamp(status.st_mtime) : 0;

        const std::string name = ftp_path::FileNameOf(localPath);
        std::int32_t remoteStamp = 0;
        if (impl.Begin(server, user, password, {&remoteDirectory, &name})) {
            // A remote time known to be of a later day than the local file's
            // is all the decision needs.
            const auto laterDay = [&](std::time_t time) { return LocalDayStamp(time) > localStamp; };
            if (const auto remoteTime = impl.RemoteModificationTime(remoteDirectory, name, laterDay))
                remoteStamp = LocalDayStamp(*remoteTime);
        }
        if (localStamp < remoteStamp) return UploadOutcome::Skipped;

        if (!Upload(impl, localPath, server, user, password, remoteDirectory, links))
            return UploadOutcome::Failed;
        copiedCount += 1;
        byteTotal += impl.lastStoredSize;
        return UploadOutcome::Uploaded;
    });
}

void FtpNoteDirectoryExists(FtpSession& session, const std::string& remoteDirectory) {
    session.impl().RememberDirectory(ftp_path::NormaliseDirectory(remoteDirectory));
}

void FtpEnsureDirectoryPath(FtpSession& session, const std::string& server, const std::string& user,
                            const std::string& password, const std::string& remoteDirectory) {
    Run(session, password, false, [&](FtpSession::Impl& impl) {
        return impl.Begin(StripFtpScheme(server), user, password, {&remoteDirectory}) &&
               impl.EnsureDirectory(remoteDirectory);
    });
}

bool FtpMakeSureDirectoryExists(FtpSession& session, const std::string& server, const std::string& user,
                                const std::string& password, const std::string& remoteDirectory) {
    return Run(session, password, false, [&](FtpSession::Impl& impl) {
        return impl.Begin(server, user, password, {&remoteDirectory}) &&
               impl.EnsureDirectory(remoteDirectory);
    });
}

bool FtpDownloadFile(FtpSession& session, const std::string& localFolder, const std::string& server,
                     const std::string& user, const std::string& password, const std::string& remoteDirectory,
                     const std::string& remoteFileName) {
    return Run(session, password, false, [&](FtpSession::Impl& impl) {
        return impl.Begin(StripFtpScheme(server), user, password, {&remoteDirectory, &remoteFileName}) &&
               impl.DownloadFile(localFolder, remoteDirectory, remoteFileName);
    });
}

FtpListOutcome FtpListFiles(FtpSession& session, const std::string& server, const std::string& user,
                            const std::string& password, const std::string& remoteDirectory, bool recursive,
                            std::vector<FtpRemoteFile>& files) {
    return Run(session, password, FtpListOutcome::Failed, [&](FtpSession::Impl& impl) {
        if (!impl.Begin(StripFtpScheme(server), user, password, {&remoteDirectory}))
            return FtpListOutcome::Failed;
        return impl.ListFiles(remoteDirectory, recursive, files);
    });
}

std::int32_t DayNumber(int year, int month, int day) {
    const auto isLeap = [](int y) { return y % 4 == 0; };
    std::int32_t days = 0;
    for (int y = 2000; y < year; ++y) days += isLeap(y) ? 366 : 365;
    static constexpr int kMonthLength[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int m = 1; m < month && m <= 12; ++m) days += (m == 2 && isLeap(year)) ? 29 : kMonthLength[m - 1];
    return days + day;
}
