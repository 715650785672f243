#pragma once

#include "platform/TransferReporter.h"
#include "sources/FtpServerAddress.h"
#include "sources/FtpTransfer.h"
#include "sources/RemoteProtocol.h"
#include "sources/ServerCertificate.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct FtpLogin {
    std::string user;
    std::string password;
    bool operator==(const FtpLogin&) const = default;
};

// How the connection proves who the server is: plain FTP does not; FTP with
// TLS checks the certificate against the system's authorities, or, when the
// user trusted one for this server, accepts that certificate's key only; SFTP
// accepts only a host key recorded in the known hosts of settingsFolder or in
// userKnownHosts (the user's ~/.ssh/known_hosts; empty for none).
struct ConnectionSecurity {
    RemoteProtocol protocol = RemoteProtocol::Ftp;
    std::optional<CertificateIdentity> trusted;
    std::string settingsFolder;
    std::string userKnownHosts;
    bool operator==(const ConnectionSecurity&) const = default;
};

// The outcome of one request: ok, or what went wrong in words fit for a report.
struct FtpReply {
    bool ok = false;
    CURLcode code = CURLE_OK;
    long serverCode = 0;  // the last reply code the server sent, 0 before any
    std::string problem;
    // The server or the connection stayed silent past a time-out.
    bool TimedOut() const { return code == CURLE_OPERATION_TIMEDOUT || code == CURLE_FTP_ACCEPT_TIMEOUT; }
};

// One FTP control connection, kept logged in between requests. The handle and
// its connection cache live as long as the object, so consecutive requests to
// the same server and login reuse the connection; one that broke is replaced
// by the next request. Requests name files by their full path (relative to the
// login directory, or absolute) and never change the server's current
// directory, so relative paths mean the same on every request.
class FtpConnection {
public:
    FtpConnection(TransferReporter* reporter, std::function<void()> pump, FtpTimeouts timeouts);
    ~FtpConnection();
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // Points the following requests at a server and login; true when they
    // differ from the previous ones (the old connection is then closed).
    bool Target(const FtpServerAddress& address, const FtpLogin& login);
    // Passive mode: this side opens the data connections (EPSV/PASV), which
    // works behind routers and firewalls; otherwise the server connects back
    // (EPRT/PORT). Holds for every later request.
    void UsePassiveMode(bool passive);
    // Holds for every later request; a change closes the connection, which
    // was made under other rules.
    void UseSecurity(const ConnectionSecurity& security);
    // The certificate (or SFTP host key, see HostKeyIdentity) the server
    // showed when the last request failed because it could not be verified
    // (not when it differed from a trusted one).
    const std::optional<CertificateIdentity>& UnverifiedCertificate() const { return unverified_; }

    // Sends raw commands; one starting with "*" may fail without failing the
    // request.
    FtpReply SendCommands(const std::vector<std::string>& commands);
    // Stores size bytes read from fd at remotePath; before runs ahead of the
    // transfer, after once it succeeded. Progress names the file displayName.
    FtpReply Upload(int fd, std::uint64_t size, const std::string& remotePath,
                    const std::vector<std::string>& before, const std::vector<std::string>& after,
                    const std::string& displayName);
    FtpReply Download(const std::string& remotePath, int fd);
    // The MLSD listing of a directory ("" is the login directory).
    FtpReply ListDirectory(const std::string& directory, std::string& listing);
    FtpReply ModificationTime(const std::string& remotePath, std::time_t& modified);

    void Pump();
    // A request in progress is abandoned once shouldStop returns true.
    void AbortWhen(std::function<bool()> shouldStop) { abort_ = std::move(shouldStop); }

private:
    struct Request;
    FtpReply Perform(const std::string& remotePath, const std::vector<std::string>& before,
                     const std::vector<std::string>& after, const std::string& what);
    bool ConnectionLooksAlive() const;
    std::string ProblemText(CURLcode code, const std::string& what) const;
    void ResetHandles();
    void ApplyDataConnectionMode();
    void ApplySecurity();
    void ApplyLogin();
    bool IsSftp() const { return security_.protocol == RemoteProtocol::Sftp; }
    std::string UrlOf(const std::string& remotePath) const;
    // After a request given up half-way: a fresh connection for the next one.
    void Reconnect();
    // After a failure to prove the server's identity: the certificate it shows
    // and the words for the report.
    std::string IdentityProblem(CURLcode code);
    void Tick(bool force);

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnRead(char* buffer, std::size_t size, std::size_t count, void* self);
    static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self);
    static int OnProgress(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                          curl_off_t ulnow);
    static int OnHostKey(void* self, int keyType, const char* key, std::size_t keyLength);

    TransferReporter* reporter_;
    std::function<void()> pump_;
    std::function<bool()> abort_;
    FtpTimeouts timeouts_;
    CURLM* multi_ = nullptr;
    CURL* easy_ = nullptr;
    FtpServerAddress address_;
    FtpLogin login_;
    bool targeted_ = false;
    bool passive_ = false;
    ConnectionSecurity security_;
    std::optional<CertificateIdentity> unverified_;
    bool greetingNeeded_ = true;
    curl_socket_t controlSocket_ = CURL_SOCKET_BAD;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    std::string lastServerLine_;

    // The request in flight.
    int sourceFd_ = -1;
    std::uint64_t sourceRemaining_ = 0;
    bool sourceFailed_ = false;
    std::function<bool(const char*, std::size_t)> sink_;
    std::string progressName_;
    std::uint64_t progressTotal_ = 0;
    std::uint64_t progressDone_ = 0;
    std::uint64_t bytesBeforeThisFile_ = 0;
    std::chrono::steady_clock::time_point lastTick_;
    // Bytes moved by the request in flight, and when that last changed.
    curl_off_t bytesMoved_ = 0;
    std::chrono::steady_clock::time_point lastActivity_;
    // Why the SFTP host key of the last connection made was refused.
    std::string hostKeyProblem_;
};
