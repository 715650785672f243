#pragma once

#include <optional>
#include <string>

// What identifies a TLS server: its certificate's SHA-256 fingerprint, as a
// person compares it ("AB:12:..."), and the SHA-256 of its public key in the
// form the library pins ("sha256//<base64>").
struct CertificateIdentity {
    std::string fingerprint;
    std::string publicKeyPin;
    bool operator==(const CertificateIdentity&) const = default;
};

// The identity of a certificate in PEM form; nullopt when it cannot be read.
std::optional<CertificateIdentity> IdentityOfPem(const std::string& pem);
