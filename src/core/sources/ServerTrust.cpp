#include "sources/ServerTrust.h"

#include "sources/KnownServers.h"
#include "sources/SftpHostKeys.h"

void TrustServerIdentity(const std::string& settingsFolder, RemoteProtocol protocol,
                         const FtpServerAddress& address, const CertificateIdentity& identity) {
    if (protocol == RemoteProtocol::Sftp)
        SftpKnownHosts(settingsFolder, "").Trust(KnownHostsName(address.host, address.port), identity);
    else
        KnownServers(settingsFolder).Trust(address.HostAndPort(), identity);
}
