#pragma once

#include "sources/ServerCertificate.h"

#include <optional>
#include <string>

// The server certificates the user chose to trust, one line per server
// ("<host>:<port> <fingerprint> <public key pin>") in "known_servers" of the
// settings folder. The file is private to its owner (0600): it says which
// servers this user backs up to.
class KnownServers {
public:
    explicit KnownServers(std::string settingsFolder);

    // The trusted identity of the server ("host:port"); nullopt when none was
    // trusted or the file cannot be read.
    std::optional<CertificateIdentity> Find(const std::string& server) const;
    // Trusts the identity for the server, replacing an earlier one. Throws
    // FileError when the file cannot be written.
    void Trust(const std::string& server, const CertificateIdentity& identity) const;

    std::string FilePath() const;

private:
    std::string settingsFolder_;
};
