#include "sources/FtpServerAddress.h"

#include <algorithm>

namespace {

constexpr char kScheme[] = "ftp://";
constexpr std::size_t kSchemeLength = sizeof(kScheme) - 1;

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool IsHostNameByte(unsigned char byte) {
    // Non-ASCII bytes pass: internationalised names are resolved as typed.
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
           byte == '-' || byte == '.' || byte == '_' || byte >= 0x80;
}

bool IsIpv6Byte(unsigned char byte) {
    return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'f') || (byte >= 'A' && byte <= 'F') ||
           byte == ':' || byte == '.';
}

std::optional<int> ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int port = std::stoi(text);
    if (port < 1 || port > 65535) return std::nullopt;
    return port;
}

}  // namespace

std::string FtpServerAddress::BaseUrl() const {
    return std::string(kScheme) + HostAndPort() + "/";
}

std::string FtpServerAddress::HostAndPort() const {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string StripFtpScheme(const std::string& server) {
    if (server.size() > kSchemeLength && server.compare(0, kSchemeLength, kScheme) == 0)
        return server.substr(kSchemeLength);
    return server;
}

std::optional<FtpServerAddress> ParseFtpServer(const std::string& server, std::string& error,
                                               int defaultPort) {
    std::string text = Trim(server);
    while (!text.empty() && text.back() == '/') text.pop_back();
    if (text.empty()) {
        error = "no server name given";
        return std::nullopt;
    }
    FtpServerAddress address;
    address.port = defaultPort;
    std::string portText;
    bool hasPort = false;
    if (text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos) {
            error = "the server name \"" + server + "\" lacks its closing \"]\"";
            return std::nullopt;
        }
        address.host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                error = "the server name \"" + server + "\" is not a host name";
                return std::nullopt;
            }
            hasPort = true;
            portText = rest.substr(1);
        }
        if (address.host.empty() || !std::all_of(address.host.begin(), address.host.end(), [](char c) {
                return IsIpv6Byte(static_cast<unsigned char>(c));
            })) {
            error = "the server name \"" + server + "\" is not an address";
            return std::nullopt;
        }
    } else {
        const auto colon = text.find(':');
        if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos) {
            error = "the server name \"" + server + "\" is not a host name (IPv6 addresses go in [ ])";
            return std::nullopt;
        }
        address.host = text.substr(0, colon);
        if (colon != std::string::npos) {
            hasPort = true;
            portText = text.substr(colon + 1);
        }
        if (address.host.empty() || !std::all_of(address.host.begin(), address.host.end(), [](char c) {
                return IsHostNameByte(static_cast<unsigned char>(c));
            })) {
            error = "the server name \"" + server + "\" is not a host name";
            return std::nullopt;
        }
    }
    if (hasPort) {
        const auto port = ParsePort(portText);
        if (!port) {
            error = "the port \"" + portText + "\" of the server name \"" + server +
                    "\" is not a number from 1 to 65535";
            return std::nullopt;
        }
        address.port = *port;
    }
    return address;
}
