#pragma once

#include <string_view>

// How a remote destination is reached. Plain FTP sends the password and the
// files in clear text; FTP with TLS protects the control and data connections
// (explicit AUTH TLS on the FTP port); SFTP runs over SSH, whose host key
// proves the server's identity.
enum class RemoteProtocol { Ftp, FtpTls, Sftp };

// "ftp://", "ftps://" or "sftp://", the scheme a destination text and a server
// field start with.
std::string_view SchemeOf(RemoteProtocol protocol);
// The protocol of a text starting with one of the schemes; Ftp for any other.
RemoteProtocol ProtocolOfText(std::string_view text);
// Whether the text starts with the scheme of some remote protocol.
bool StartsWithRemoteScheme(std::string_view text);
// The port a server name without one is reached on.
int DefaultPort(RemoteProtocol protocol);
