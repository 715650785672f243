#include "sources/RemoteProtocol.h"

namespace {
constexpr std::string_view kFtpScheme = "ftp://";
constexpr std::string_view kFtpTlsScheme = "ftps://";
constexpr std::string_view kSftpScheme = "sftp://";
constexpr int kFtpPort = 21;
constexpr int kSshPort = 22;
}  // namespace

std::string_view SchemeOf(RemoteProtocol protocol) {
    switch (protocol) {
        case RemoteProtocol::FtpTls:
            return kFtpTlsScheme;
        case RemoteProtocol::Sftp:
            return kSftpScheme;
        case RemoteProtocol::Ftp:
            break;
    }
    return kFtpScheme;
}

RemoteProtocol ProtocolOfText(std::string_view text) {
    if (text.starts_with(kFtpTlsScheme)) return RemoteProtocol::FtpTls;
    if (text.starts_with(kSftpScheme)) return RemoteProtocol::Sftp;
    return RemoteProtocol::Ftp;
}

bool StartsWithRemoteScheme(std::string_view text) {
    return text.starts_with(kFtpScheme) || text.starts_with(kFtpTlsScheme) || text.starts_with(kSftpScheme);
}

int DefaultPort(RemoteProtocol protocol) {
    // Explicit TLS begins as plain FTP, on the same port.
    return protocol == RemoteProtocol::Sftp ? kSshPort : kFtpPort;
}
