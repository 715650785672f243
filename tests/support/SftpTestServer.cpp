#include "support/SftpTestServer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

SftpTestServer::SftpTestServer(std::string user, std::string password)
    : LoopbackTestServer(std::move(user), std::move(password)) {
    MakeHostKey();
    Start(0);
}

void SftpTestServer::MakeHostKey() const {
    const std::string key = OwnFile("host_key");
    std::filesystem::remove(key);
    std::filesystem::remove(key + ".pub");
    const std::string command = "ssh-keygen -q -t ecdsa -b 256 -m PEM -N '' -f '" + key + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("ssh-keygen could not make a host key");
}

void SftpTestServer::Start(int port) {
    std::vector<std::string> extra = {"--host-key", OwnFile("host_key")};
    if (!authorizedKey_.empty()) extra.insert(extra.end(), {"--authorized-key", authorizedKey_});
    Launch("sftp_test_server.py", port, extra);
}

void SftpTestServer::RenewHostKey() {
    Stop();
    MakeHostKey();
    Start(port());
}

void SftpTestServer::AuthorizeKey(const std::string& publicKeyFile) {
    Stop();
    authorizedKey_ = publicKeyFile;
    Start(port());
}

std::string SftpTestServer::HostKeyFingerprint() const {
    // "256 SHA256:... comment (ECDSA)"
    const std::string output = CommandOutput("ssh-keygen -l -E sha256 -f '" + OwnFile("host_key.pub") + "'");
    const auto start = output.find("SHA256:");
    if (start == std::string::npos) throw std::runtime_error("ssh-keygen printed no fingerprint: " + output);
    return output.substr(start, output.find(' ', start) - start);
}

std::string SftpTestServer::KnownHostsLine() const {
    std::ifstream in(OwnFile("host_key.pub"));
    std::string type;
    std::string base64;
    in >> type >> base64;
    return "[127.0.0.1]:" + std::to_string(port()) + " " + type + " " + base64;
}

void SftpTestServer::DieDuringUploadOf(const std::string& fileName) {
    AddControlLine("die_during_names", fileName);
}

void SftpTestServer::RefuseRenameAndDelete() {
    WriteControlFile("store_only");
}

void SftpTestServer::FallSilent() {
    WriteControlFile("silent");
}
