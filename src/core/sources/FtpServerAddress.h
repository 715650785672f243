#pragma once

#include <optional>
#include <string>

// Where to connect: the host and port taken from the server text.
struct FtpServerAddress {
    std::string host;  // a name or an address; IPv6 without brackets
    int port = 21;

    bool operator==(const FtpServerAddress&) const = default;
    // "ftp://host:port/" (IPv6 in brackets), the root every request URL builds on.
    std::string BaseUrl() const;
    // "host:port" (IPv6 in brackets), which names the server among others.
    std::string HostAndPort() const;
};

// The server text without a leading "ftp://", taken off only when more follows.
std::string StripFtpScheme(const std::string& server);

// Reads "host", "host:port", "[v6]" or "[v6]:port"; surrounding blanks and a
// trailing "/" are tolerated. A host with blanks, a path or other characters no
// host name has, or a port outside 1..65535, gives nullopt and says why in error.
// A text without a port gets defaultPort.
std::optional<FtpServerAddress> ParseFtpServer(const std::string& server, std::string& error,
                                               int defaultPort = 21);
