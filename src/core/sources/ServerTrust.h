#pragma once

#include "sources/FtpServerAddress.h"
#include "sources/RemoteProtocol.h"
#include "sources/ServerCertificate.h"

#include <string>

// Records the identity the user accepted for a server: an FTPS certificate in
// the known servers, an SFTP host key (see HostKeyIdentity) in the program's
// known hosts, both in settingsFolder. Throws FileError when it cannot be
// written.
void TrustServerIdentity(const std::string& settingsFolder, RemoteProtocol protocol,
                         const FtpServerAddress& address, const CertificateIdentity& identity);
