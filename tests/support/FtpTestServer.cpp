#include "support/FtpTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

int BoundLoopbackSocket(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("bind failed");
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

FtpTestServer::FtpTestServer(std::string user, std::string password, Security security)
    : LoopbackTestServer(std::move(user), std::move(password)), tls_(security == Security::Tls) {
    if (tls_) MakeCertificate();
    Start(0);
}

void FtpTestServer::MakeCertificate() const {
    // A key of its own on every call: a renewed certificate differs.
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout '" +
        OwnFile("key.pem") + "' -out '" + OwnFile("cert.pem") + "' -days 2 -subj /CN=127.0.0.1 2>/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl could not make a certificate");
}

void FtpTestServer::Start(int port) {
    Launch("ftp_test_server.py", port,
           tls_ ? std::vector<std::string>{"--tls-cert", OwnFile("cert.pem"), "--tls-key", OwnFile("key.pem")}
                : std::vector<std::string>{});
}

void FtpTestServer::RenewCertificate() {
    Stop();
    MakeCertificate();
    Start(port());
}

std::string FtpTestServer::CertificatePem() const {
    std::ifstream in(OwnFile("cert.pem"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string FtpTestServer::CertificateFingerprint() const {
    // As the openssl tool prints it: "sha256 Fingerprint=AB:CD:...".
    const std::string output =
        CommandOutput("openssl x509 -noout -fingerprint -sha256 -in '" + OwnFile("cert.pem") + "'");
    const auto equals = output.find('=');
    if (equals == std::string::npos) throw std::runtime_error("openssl printed no fingerprint: " + output);
    std::string fingerprint = output.substr(equals + 1);
    while (!fingerprint.empty() && (fingerprint.back() == '\n' || fingerprint.back() == '\r'))
        fingerprint.pop_back();
    return fingerprint;
}

int FtpTestServer::LoginCount() const {
    int logins = 0;
    for (const auto& event : Events()) logins += event == "LOGIN" ? 1 : 0;
    return logins;
}

int FtpTestServer::RefusedConnections() const {
    const std::vector<std::string> events = Events();
    return static_cast<int>(std::count(events.begin(), events.end(), "REFUSED"));
}

std::vector<std::string> FtpTestServer::DataConnectionModes() const {
    std::vector<std::string> modes;
    for (const auto& event : Events())
        if (event.rfind("DATA ", 0) == 0) modes.push_back(event.substr(5));
    return modes;
}

void FtpTestServer::DropConnectionDuringNextUpload(std::uint64_t afterBytes) {
    WriteControlFile("drop_after", std::to_string(afterBytes));
}

void FtpTestServer::RefuseWithQuotaExceeded(const std::string& fileName) {
    AddControlLine("quota_names", fileName);
}

void FtpTestServer::LimitConnections(int count) {
    WriteControlFile("max_connections", std::to_string(count));
}

void FtpTestServer::RefuseListings() {
    WriteControlFile("no_mlsd");
}

void FtpTestServer::RefuseRenameAndDelete() {
    WriteControlFile("store_only");
}

void FtpTestServer::RefuseModeChanges() {
    WriteControlFile("no_site_chmod");
}

void FtpTestServer::FallSilentAfterEachUpload() {
    WriteControlFile("silent_after_store");
}

void FtpTestServer::DieDuringUploadOf(const std::string& fileName) {
    AddControlLine("die_during_names", fileName);
}

SilentServer::SilentServer() {
    socket_ = BoundLoopbackSocket(port_);
    if (listen(socket_, 16) != 0) {
        close(socket_);
        throw std::runtime_error("listen failed");
    }
}

SilentServer::~SilentServer() {
    close(socket_);
}

int UnusedLoopbackPort() {
    int port = 0;
    close(BoundLoopbackSocket(port));
    return port;
}
