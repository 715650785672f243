#include "sources/RemoteProtocol.h"

namespace {
constexpr std::string_view kFtpScheme = "ftp://";
constexpr std::string_view kFtpTlsScheme = "ftps://";
constexpr int kFtpPort = 21;
}  // namespace

std::string_view SchemeOf(RemoteProtocol protocol) {
    return protocol == RemoteProtocol::FtpTls ? kFtpTlsScheme : kFtpScheme;
}

RemoteProtocol ProtocolOfText(std::string_view text) {
    return text.starts_with(kFtpTlsScheme) ? RemoteProtocol::FtpTls : RemoteProtocol::Ftp;
}

bool StartsWithRemoteScheme(std::string_view text) {
    return text.starts_with(kFtpScheme) || text.starts_with(kFtpTlsScheme);
}

int DefaultPort(RemoteProtocol) {
    // Explicit TLS begins as plain FTP, on the same port.
    return kFtpPort;
}
