#include "sources/ServerCertificate.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>

namespace {

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Deleter {
    void operator()(X509* certificate) const { X509_free(certificate); }
};

std::string ColonHex(const unsigned char* bytes, unsigned int length) {
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        if (i > 0) text += ':';
        text += pair;
    }
    return text;
}

std::optional<std::string> PublicKeyPin(X509* certificate) {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(X509_get0_pubkey(certificate), &der);
    if (length <= 0) return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    const bool hashed =
        EVP_Digest(der, static_cast<std::size_t>(length), digest, &digestLength, EVP_sha256(), nullptr) == 1;
    OPENSSL_free(der);
    if (!hashed) return std::nullopt;
    unsigned char base64[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
    const int written = EVP_EncodeBlock(base64, digest, static_cast<int>(digestLength));
    return "sha256//" + std::string(reinterpret_cast<const char*>(base64), static_cast<std::size_t>(written));
}

}  // namespace

std::optional<CertificateIdentity> IdentityOfPem(const std::string& pem) {
    const std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return std::nullopt;
    const std::unique_ptr<X509, X509Deleter> certificate(
        PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!certificate) return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (X509_digest(certificate.get(), EVP_sha256(), digest, &digestLength) != 1) return std::nullopt;
    const std::optional<std::string> pin = PublicKeyPin(certificate.get());
    if (!pin) return std::nullopt;
    return CertificateIdentity{ColonHex(digest, digestLength), *pin};
}
