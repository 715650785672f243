#pragma once

#include "platform/TransferReporter.h"
#include "sources/RemoteProtocol.h"
#include "sources/ServerCertificate.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct FtpTimeouts {
    std::chrono::milliseconds connect{20'000};
    // A transfer or reply that makes no progress for this long is aborted.
    std::chrono::milliseconds stall{60'000};
};

// The time-outs of a backup run: the defaults, or both set to the whole
// seconds of TARNWICK_FTP_TIMEOUT_SECONDS (1 to 3600) when it holds such a
// number, for slow links and for tests that must not wait a minute.
FtpTimeouts FtpTimeoutsFromEnvironment();

// Whether the local file may be reached through a symbolic link: one the user
// named is followed; one met inside a backed-up folder never is (its target
// may be anything on this machine).
enum class LocalLinks { Follow, Refuse };

// One logged-in connection reused for consecutive operations on the same server
// and credentials; a new server or new credentials, or a broken connection,
// connect anew. The backup run owns one per run; the connection test its own.
// Progress of uploads goes to the reporter (if any); pump is called at least
// every 100 ms during a transfer so a window stays responsive.
class FtpSession {
public:
    explicit FtpSession(TransferReporter* reporter = nullptr, std::function<void()> pump = {},
                        FtpTimeouts timeouts = {});
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // Data connections opened by this side (passive) or by the server
    // (active, the default); holds for the following operations.
    void UsePassiveMode(bool passive);
    // Plain FTP (the default) or FTP with TLS; a certificate the user trusted
    // is looked up in the known servers of settingsFolder (none when empty).
    void UseProtocol(RemoteProtocol protocol, std::string settingsFolder);
    // The certificate of a TLS server that could not be verified, when that is
    // why the last operation failed: the user may choose to trust it.
    const std::optional<CertificateIdentity>& UnverifiedCertificate() const;

    // What the last failed operation ran into, for reports; never holds the
    // password.
    const std::string& LastError() const;
    // The last operation failed because the server or the connection stayed
    // silent past a time-out.
    bool LastFailureTimedOut() const;
    // Bytes of the file the last upload stored (0 when it stored none).
    std::uint64_t LastStoredSize() const;
    // An operation in progress fails once shouldStop returns true: within
    // 50 ms while data moves, within a second while the server is awaited.
    // It is asked on the thread running the operation.
    void AbortWhen(std::function<bool()> shouldStop);

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// server: host, "host:port", with or without "ftp://" (see each operation).
// remoteDirectory: "/" separated, absolute or relative to the login directory,
// may be empty.

// Stores the local file under its own name in remoteDirectory, creating missing
// levels. True when the file was stored. The data goes to "<name>.tarnwick-part"
// first and is renamed once complete; on an account that may not rename, it is
// stored under its final name instead (for the rest of the session). The
// stored file is given the source's permission bits where the server allows
// (SITE CHMOD), so a private file does not become readable to others there.
bool FtpUploadFile(FtpSession& session, const std::string& localPath, const std::string& server,
                   const std::string& user, const std::string& password, const std::string& remoteDirectory,
                   LocalLinks links = LocalLinks::Follow);

enum class UploadOutcome { Uploaded, Skipped, Failed };

// Uploads unless the remote copy carries a later calendar day than the local
// file. Counts the file (copiedCount + 1, byteTotal + its stored size) only
// when it was stored.
UploadOutcome FtpUploadIfNewer(FtpSession& session, const std::string& localPath, const std::string& server,
                               const std::string& user, const std::string& password,
                               const std::string& remoteDirectory, std::int32_t& copiedCount,
                               std::uint64_t& byteTotal, LocalLinks links = LocalLinks::Follow);

// Tells the session that remoteDirectory exists (another connection of the
// same run made it), so its uploads there send no MKD first.
void FtpNoteDirectoryExists(FtpSession& session, const std::string& remoteDirectory);

void FtpEnsureDirectoryPath(FtpSession& session, const std::string& server, const std::string& user,
                            const std::string& password, const std::string& remoteDirectory);

// The backup run's check that its remote base directory exists: every missing
// level is made. The server text is used as it stands (no "ftp://" removed).
// False when the server could not be reached or refused the login; the run
// does not need to look at it.
bool FtpMakeSureDirectoryExists(FtpSession& session, const std::string& server, const std::string& user,
                                const std::string& password, const std::string& remoteDirectory);

// Fetches remoteDirectory/remoteFileName into localFolder, replacing a local
// file. The file is private to its owner (0600): the caller gives it the mode
// it should have.
bool FtpDownloadFile(FtpSession& session, const std::string& localFolder, const std::string& server,
                     const std::string& user, const std::string& password, const std::string& remoteDirectory,
                     const std::string& remoteFileName);

// A file found by FtpListFiles.
struct FtpRemoteFile {
    std::string relativePath;  // below the listed directory, with a leading "/" ("/sub/b.txt")
    std::uint64_t size = 0;
    std::time_t modified = -1;  // seconds since 1970 (UTC); -1 when the server did not say
    int mode = -1;              // permission bits; -1 when the server did not say
};

enum class FtpListOutcome { Listed, Missing, Failed };

// The files in remoteDirectory, and with recursive those of every directory
// below it, from machine-readable listings (MLSD). Missing when the directory
// itself does not exist; Failed (LastError says why) when the server cannot be
// used or a listing fails. Files of a partial upload are left out.
FtpListOutcome FtpListFiles(FtpSession& session, const std::string& server, const std::string& user,
                            const std::string& password, const std::string& remoteDirectory, bool recursive,
                            std::vector<FtpRemoteFile>& files);

// Days since 1 January 2000 (day 1); every year divisible by 4 is a leap year.
std::int32_t DayNumber(int year, int month, int day);
