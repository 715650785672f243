#include "support/SftpTestServer.h"

#include "support/FtpTestServer.h"

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

SftpTestServer::SftpTestServer(std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)) {
    std::filesystem::create_directories(LoginFolder());
    std::filesystem::create_directories(folder_.path() + "/control");
    MakeHostKey();
    Start(0);
}

SftpTestServer::~SftpTestServer() {
    Stop();
}

void SftpTestServer::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void SftpTestServer::MakeHostKey() const {
    const std::string key = folder_.path() + "/host_key";
    std::filesystem::remove(key);
    std::filesystem::remove(key + ".pub");
    const std::string command = "ssh-keygen -q -t ecdsa -b 256 -m PEM -N '' -f '" + key + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("ssh-keygen could not make a host key");
}

void SftpTestServer::Start(int port) {
    std::vector<std::string> arguments = {
        "/usr/bin/python3", std::string(TARNWICK_SOURCE_DIR) + "/tests/support/sftp_test_server.py",
        "--root",           RootFolder(),
        "--control",        folder_.path() + "/control",
        "--user-hex",       HexOf(user_),
        "--password-hex",   HexOf(password_),
        "--host-key",       folder_.path() + "/host_key",
        "--port",           std::to_string(port)};
    if (!authorizedKey_.empty()) arguments.insert(arguments.end(), {"--authorized-key", authorizedKey_});
    pid_ = SpawnReadyServer(arguments, folder_.path() + "/server.log", port_);
}

void SftpTestServer::RenewHostKey() {
    Stop();
    MakeHostKey();
    Start(port_);
}

void SftpTestServer::AuthorizeKey(const std::string& publicKeyFile) {
    Stop();
    authorizedKey_ = publicKeyFile;
    Start(port_);
}

std::string SftpTestServer::HostAndPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string SftpTestServer::RootFolder() const {
    return folder_.path() + "/root";
}

std::string SftpTestServer::LoginFolder() const {
    return RootFolder() + "/login";
}

std::string SftpTestServer::HostKeyFingerprint() const {
    // "256 SHA256:... comment (ECDSA)"
    const std::string output =
        CommandOutput("ssh-keygen -l -E sha256 -f '" + folder_.path() + "/host_key.pub'");
    const auto start = output.find("SHA256:");
    if (start == std::string::npos) throw std::runtime_error("ssh-keygen printed no fingerprint: " + output);
    return output.substr(start, output.find(' ', start) - start);
}

std::string SftpTestServer::KnownHostsLine() const {
    std::ifstream in(folder_.path() + "/host_key.pub");
    std::string type;
    std::string base64;
    in >> type >> base64;
    return "[127.0.0.1]:" + std::to_string(port_) + " " + type + " " + base64;
}

std::vector<std::string> SftpTestServer::Events() const {
    std::vector<std::string> events;
    std::ifstream in(folder_.path() + "/control/events", std::ios::binary);
    for (std::string line; std::getline(in, line);) events.push_back(line);
    return events;
}

std::vector<std::string> SftpTestServer::StoredPaths() const {
    std::vector<std::string> paths;
    for (const auto& event : Events())
        if (event.rfind("STOR ", 0) == 0) paths.push_back(event.substr(5));
    return paths;
}

void SftpTestServer::DieDuringUploadOf(const std::string& fileName) {
    std::ofstream(folder_.path() + "/control/die_during_names", std::ios::app) << fileName << "\n";
}

void SftpTestServer::RefuseRenameAndDelete() {
    std::ofstream(folder_.path() + "/control/store_only") << "";
}

void SftpTestServer::FallSilent() {
    std::ofstream(folder_.path() + "/control/silent") << "";
}

std::string CommandOutput(const std::string& command) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
    std::string output;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
    return output;
}
