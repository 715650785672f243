#include "sources/KnownServers.h"

#include "util/FileError.h"
#include "util/TextFile.h"

#include <sys/stat.h>

#include <sstream>
#include <vector>

namespace {

constexpr char kFileName[] = "known_servers";

struct Entry {
    std::string server;
    CertificateIdentity identity;
};

std::optional<Entry> ParseLine(const std::string& line) {
    std::istringstream fields(line);
    Entry entry;
    if (!(fields >> entry.server >> entry.identity.fingerprint >> entry.identity.publicKeyPin))
        return std::nullopt;
    return entry;
}

std::vector<std::string> LinesOf(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return {};
    return SplitLines(ReadSmallRegularFile(path));
}

}  // namespace

KnownServers::KnownServers(std::string settingsFolder) : settingsFolder_(std::move(settingsFolder)) {}

std::string KnownServers::FilePath() const {
    return settingsFolder_ + "/" + kFileName;
}

std::optional<CertificateIdentity> KnownServers::Find(const std::string& server) const {
    try {
        for (const std::string& line : LinesOf(FilePath()))
            if (const auto entry = ParseLine(line); entry && entry->server == server) return entry->identity;
    } catch (const FileError&) {
        // An unreadable file trusts nothing: the connection falls back to the
        // system's certificate authorities.
    }
    return std::nullopt;
}

void KnownServers::Trust(const std::string& server, const CertificateIdentity& identity) const {
    std::string text;
    for (const std::string& line : LinesOf(FilePath())) {
        const auto entry = ParseLine(line);
        if (entry && entry->server != server) text += line + "\n";
    }
    text += server + " " + identity.fingerprint + " " + identity.publicKeyPin + "\n";
    WriteFileAtomically(FilePath(), ToCrLf(text), 0600);
}
