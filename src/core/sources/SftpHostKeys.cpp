#include "sources/SftpHostKeys.h"

#include "util/FileError.h"
#include "util/TextFile.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <vector>

namespace {

constexpr char kFileName[] = "known_hosts";
constexpr std::string_view kHashedPrefix = "|1|";
constexpr std::string_view kRevokedMarker = "@revoked";
constexpr std::string_view kAuthorityMarker = "@cert-authority";

std::string Base64(std::string_view bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(std::max(length, 0)));
    return text;
}

std::optional<std::string> FromBase64(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    std::string bytes(3 * text.size() / 4, '\0');
    const int length =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                        reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (length < 0) return std::nullopt;
    // The block decoder counts the padding as bytes.
    std::size_t padding = 0;
    for (auto at = text.rbegin(); at != text.rend() && *at == '='; ++at) ++padding;
    bytes.resize(static_cast<std::size_t>(length) - std::min<std::size_t>(padding, 2));
    return bytes;
}

// A key blob starts with its type as an SSH string (4-byte length, text).
std::string KeyTypeOf(std::string_view blob) {
    if (blob.size() < 4) return {};
    const std::size_t length = (static_cast<std::size_t>(static_cast<unsigned char>(blob[0])) << 24) |
                               (static_cast<std::size_t>(static_cast<unsigned char>(blob[1])) << 16) |
                               (static_cast<std::size_t>(static_cast<unsigned char>(blob[2])) << 8) |
                               static_cast<std::size_t>(static_cast<unsigned char>(blob[3]));
    if (length > blob.size() - 4) return {};
    return std::string(blob.substr(4, length));
}

struct KnownLine {
    bool revoked = false;
    std::string names;
    std::string keyType;
    std::string keyBlob;
};

std::optional<KnownLine> ParseKnownLine(const std::string& line) {
    std::istringstream fields(line);
    KnownLine known;
    std::string first;
    if (!(fields >> first) || first.starts_with('#')) return std::nullopt;
    if (first == kAuthorityMarker) return std::nullopt;  // certificates are not checked here
    if (first == kRevokedMarker) {
        known.revoked = true;
        if (!(fields >> first)) return std::nullopt;
    }
    known.names = first;
    std::string base64;
    if (!(fields >> known.keyType >> base64)) return std::nullopt;
    const auto blob = FromBase64(base64);
    if (!blob) return std::nullopt;
    known.keyBlob = *blob;
    return known;
}

bool HashedNameMatches(std::string_view pattern, const std::string& name) {
    // "|1|<base64 salt>|<base64 HMAC-SHA1 of the name keyed with the salt>"
    const std::string_view rest = pattern.substr(kHashedPrefix.size());
    const std::size_t bar = rest.find('|');
    if (bar == std::string_view::npos) return false;
    const auto salt = FromBase64(rest.substr(0, bar));
    const auto expected = FromBase64(rest.substr(bar + 1));
    if (!salt || !expected) return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (HMAC(EVP_sha1(), salt->data(), static_cast<int>(salt->size()),
             reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest, &length) == nullptr)
        return false;
    return std::string_view(reinterpret_cast<const char*>(digest), length) == *expected;
}

bool NamesMatch(const std::string& names, const std::string& name) {
    if (names.starts_with(kHashedPrefix)) return HashedNameMatches(names, name);
    std::istringstream list(names);
    bool matched = false;
    for (std::string pattern; std::getline(list, pattern, ',');) {
        // A negated pattern rules the host out; wildcards are not followed.
        if (pattern.starts_with('!')) {
            if (pattern.substr(1) == name) return false;
            continue;
        }
        std::string lowered = pattern;
        std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        matched = matched || lowered == name;
    }
    return matched;
}

std::vector<std::string> LinesOf(const std::string& path) {
    struct stat status {};
    if (path.empty() || stat(path.c_str(), &status) != 0) return {};
    try {
        return SplitLines(ReadSmallRegularFile(path));
    } catch (const FileError&) {
        // An unreadable file knows no host: the key is then unknown, never
        // accepted.
        return {};
    }
}

// What one file says about the key; nullopt when it does not know the host
// with a key of this type.
std::optional<HostKeyCheck> CheckIn(const std::string& path, const std::string& name, std::string_view blob) {
    const std::string type = KeyTypeOf(blob);
    std::optional<HostKeyCheck> outcome;
    for (const std::string& line : LinesOf(path)) {
        const auto known = ParseKnownLine(line);
        if (!known || !NamesMatch(known->names, name)) continue;
        if (known->revoked) {
            if (known->keyBlob == blob) return HostKeyCheck{HostKeyVerdict::Changed, "(revoked)"};
            continue;
        }
        if (known->keyBlob == blob) {
            outcome = HostKeyCheck{HostKeyVerdict::Known, {}};
        } else if (known->keyType == type && !outcome) {
            outcome = HostKeyCheck{HostKeyVerdict::Changed, HostKeyFingerprint(known->keyBlob)};
        }
    }
    return outcome;
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

std::string HostKeyFingerprint(std::string_view keyBlob) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(keyBlob.data(), keyBlob.size(), digest, &length, EVP_sha256(), nullptr);
    std::string text = Base64(std::string_view(reinterpret_cast<const char*>(digest), length));
    while (!text.empty() && text.back() == '=') text.pop_back();
    return "SHA256:" + text;
}

CertificateIdentity HostKeyIdentity(std::string_view keyBlob) {
    return {HostKeyFingerprint(keyBlob), KeyTypeOf(keyBlob) + " " + Base64(keyBlob)};
}

std::string KnownHostsName(const std::string& host, int port) {
    const std::string lowered = Lowered(host);
    return port == 22 ? lowered : "[" + lowered + "]:" + std::to_string(port);
}

SftpKnownHosts::SftpKnownHosts(std::string settingsFolder, std::string userKnownHosts)
    : settingsFolder_(std::move(settingsFolder)), userKnownHosts_(std::move(userKnownHosts)) {}

std::string SftpKnownHosts::UserKnownHostsFile() {
    const char* home = std::getenv("HOME");
    return home == nullptr || *home == '\0' ? std::string() : std::string(home) + "/.ssh/known_hosts";
}

std::string SftpKnownHosts::FilePath() const {
    return settingsFolder_ + "/" + kFileName;
}

HostKeyCheck SftpKnownHosts::Check(const std::string& knownHostsName, std::string_view keyBlob) const {
    const std::string name = Lowered(knownHostsName);
    if (!settingsFolder_.empty())
        if (const auto own = CheckIn(FilePath(), name, keyBlob)) return *own;
    if (const auto users = CheckIn(userKnownHosts_, name, keyBlob)) return *users;
    return {};
}

void SftpKnownHosts::Trust(const std::string& knownHostsName, const CertificateIdentity& hostKey) const {
    const std::string name = Lowered(knownHostsName);
    std::istringstream fields(hostKey.publicKeyPin);
    std::string type;
    std::string base64;
    if (!(fields >> type >> base64) || !FromBase64(base64))
        throw FileError(FilePath(), "the host key to record is not a key");
    std::string text;
    for (const std::string& line : LinesOf(FilePath())) {
        const auto known = ParseKnownLine(line);
        if (known && known->names == name && known->keyType == type) continue;
        text += line + "\n";
    }
    text += name + " " + type + " " + base64 + "\n";
    WriteFileAtomically(FilePath(), text, 0600);
}
