#pragma once

#include "support/LoopbackTestServer.h"

#include <string>
#include <vector>

// A real SFTP server (paramiko, run with the system Python) on 127.0.0.1 and a
// free port, with a host key made for it, serving a fresh temporary folder;
// the user starts in "/login" below the server's root and logs in with the
// password or with the key whose public half AuthorizeKey names. Stopped
// (killed and waited for) at destruction.
class SftpTestServer : public LoopbackTestServer {
public:
    explicit SftpTestServer(std::string user = "tester", std::string password = "secret");

    // The host key's fingerprint as ssh-keygen prints it ("SHA256:...") and
    // its known_hosts line for this server ("[127.0.0.1]:port type base64").
    std::string HostKeyFingerprint() const;
    std::string KnownHostsLine() const;
    // Restarts the server on the same port with a new host key.
    void RenewHostKey();
    // Restarts the server accepting the public key in this file as well.
    void AuthorizeKey(const std::string& publicKeyFile);

    // "LOGIN password" / "LOGIN publickey" per login, "STOR <path>" per file.
    using LoopbackTestServer::Events;
    // The server kills itself while it receives a file whose name starts so.
    void DieDuringUploadOf(const std::string& fileName);
    // New connections are accepted and never answered.
    void FallSilent();
    // Refuses renames and removals: an account that may only store files.
    void RefuseRenameAndDelete();

private:
    void MakeHostKey() const;
    void Start(int port);

    std::string authorizedKey_;
};
