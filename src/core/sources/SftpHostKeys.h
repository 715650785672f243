#pragma once

#include "sources/ServerCertificate.h"

#include <string>
#include <string_view>

// SSH host keys as the known_hosts files of the usual SSH tools write them:
// one line "<names> <key type> <base64 key>", the names a comma separated
// list of "host" (port 22), "[host]:port" or a hashed form ("|1|salt|hmac").

// "SHA256:<base64 without padding>" of the key, as SSH tools print it.
std::string HostKeyFingerprint(std::string_view keyBlob);
// The identity a connection test shows for a host key: its fingerprint, and
// "<key type> <base64 key>" in place of a certificate's public key pin.
CertificateIdentity HostKeyIdentity(std::string_view keyBlob);
// How a host and port are named in a known_hosts line.
std::string KnownHostsName(const std::string& host, int port);

enum class HostKeyVerdict { Known, Unknown, Changed };

struct HostKeyCheck {
    HostKeyVerdict verdict = HostKeyVerdict::Unknown;
    // For Changed: the fingerprint of the key on record for the host.
    std::string knownFingerprint;
};

// The host keys the user accepted in this program ("known_hosts" in the
// settings folder, private to its owner, 0600), and as a second opinion the
// user's own ~/.ssh/known_hosts, which is only read.
class SftpKnownHosts {
public:
    // userKnownHosts: the user's file; empty to consult none.
    SftpKnownHosts(std::string settingsFolder, std::string userKnownHosts);
    // The user's ~/.ssh/known_hosts ($HOME), when HOME is set.
    static std::string UserKnownHostsFile();

    // Known when a file holds this key for the host; Changed when the
    // program's file, or else the user's, holds another key of the same type
    // for it (or marks this one revoked); Unknown otherwise.
    HostKeyCheck Check(const std::string& knownHostsName, std::string_view keyBlob) const;
    // Records the key (an identity from HostKeyIdentity) for the host in the
    // program's file, replacing keys of the same type. Throws FileError when
    // the file cannot be written.
    void Trust(const std::string& knownHostsName, const CertificateIdentity& hostKey) const;

    std::string FilePath() const;

private:
    std::string settingsFolder_;
    std::string userKnownHosts_;
};
