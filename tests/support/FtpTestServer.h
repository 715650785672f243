#pragma once

#include "support/LoopbackTestServer.h"

#include <cstdint>
#include <string>
#include <vector>

// A real FTP server (pyftpdlib, run with the system Python) on 127.0.0.1 and a
// free port, serving a fresh temporary folder with permission to do anything;
// the user starts in "/login" below the server's root.
class FtpTestServer : public LoopbackTestServer {
public:
    // Tls: FTP with explicit TLS required on control and data connections,
    // with a self-signed certificate made for this server.
    enum class Security { Plain, Tls };
    explicit FtpTestServer(std::string user = "tester", std::string password = "secret",
                           Security security = Security::Plain);

    // Successful logins so far.
    int LoginCount() const;
    // "passive" or "active" for each data connection asked for so far, in order.
    std::vector<std::string> DataConnectionModes() const;
    // Connections turned away by LimitConnections so far.
    int RefusedConnections() const;

    // The next upload loses its connections once the server has received this
    // many bytes of it; later uploads go through.
    void DropConnectionDuringNextUpload(std::uint64_t afterBytes);
    // STOR of a file whose name starts with this one is refused with "552".
    void RefuseWithQuotaExceeded(const std::string& fileName);
    // A control connection beyond count open at once is answered "421 Too
    // many connections" and closed.
    void LimitConnections(int count);
    // Answers MLSD with "500", as a server without machine-readable listings.
    void RefuseListings();
    // Refuses RNFR, RNTO and DELE with "550": an account that may store files
    // but neither rename nor delete them.
    void RefuseRenameAndDelete();
    // Refuses SITE CHMOD with "550".
    void RefuseModeChanges();
    // Every connection goes silent once the data of an upload has arrived: the
    // file is kept, but no "226" and no later reply is ever sent.
    void FallSilentAfterEachUpload();
    // The server process kills itself (SIGKILL) while it receives the data of
    // a file whose name starts with this one.
    void DieDuringUploadOf(const std::string& fileName);

    // The TLS server's certificate (PEM) and its SHA-256 fingerprint as the
    // openssl tool prints it.
    std::string CertificatePem() const;
    std::string CertificateFingerprint() const;
    // Restarts the TLS server on the same port with a new key and certificate.
    void RenewCertificate();

private:
    void MakeCertificate() const;
    void Start(int port);

    bool tls_ = false;
};

// Accepts connections (the kernel completes them) and never says a word.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    int port() const { return port_; }

private:
    int socket_ = -1;
    int port_ = 0;
};

// A loopback port nothing listens on.
int UnusedLoopbackPort();
