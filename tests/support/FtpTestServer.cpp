#include "support/FtpTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace {

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return hex;
}

// Reads the line "READY <port>" the server prints once it listens.
int AwaitReadyLine(int fd, std::chrono::seconds limit) {
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (output.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw std::runtime_error("the FTP test server did not start in time");
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[256];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) throw std::runtime_error("the FTP test server stopped before it was ready");
        output.append(buffer, static_cast<std::size_t>(got));
    }
    if (output.rfind("READY ", 0) != 0) throw std::runtime_error("the FTP test server said: " + output);
    return std::stoi(output.substr(6));
}

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
    : user_(std::move(user)), password_(std::move(password)), tls_(security == Security::Tls) {
    std::filesystem::create_directories(RootFolder());
    std::filesystem::create_directories(folder_.path() + "/control");
    if (tls_) MakeCertificate();
    Start(0);
}

void FtpTestServer::MakeCertificate() const {
    // A key of its own on every call: a renewed certificate differs.
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout '" +
        folder_.path() + "/key.pem' -out '" + folder_.path() +
        "/cert.pem' -days 2 -subj /CN=127.0.0.1 2>/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl could not make a certificate");
}

void FtpTestServer::Start(int port) {
    const std::string script = std::string(TARNWICK_SOURCE_DIR) + "/tests/support/ftp_test_server.py";
    std::vector<std::string> arguments = {"/usr/bin/python3", script,      "--root",
                                          RootFolder(),       "--control", folder_.path() + "/control",
                                          "--user-hex",       Hex(user_),  "--password-hex",
                                          Hex(password_),     "--port",    std::to_string(port)};
    if (tls_) {
        arguments.insert(arguments.end(), {"--tls-cert", folder_.path() + "/cert.pem", "--tls-key",
                                           folder_.path() + "/key.pem"});
    }
    pid_ = SpawnReadyServer(arguments, folder_.path() + "/server.log", port_);
}

pid_t SpawnReadyServer(std::vector<std::string> arguments, const std::string& logFile, int& port) {
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    if (spawned != 0) {
        close(output[0]);
        throw std::runtime_error("cannot start " + arguments.front());
    }
    try {
        port = AwaitReadyLine(output[0], std::chrono::seconds(20));
    } catch (...) {
        close(output[0]);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        throw;
    }
    close(output[0]);
    return pid;
}

std::string HexOf(const std::string& bytes) {
    return Hex(bytes);
}

void FtpTestServer::RenewCertificate() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    MakeCertificate();
    Start(port_);
}

std::string FtpTestServer::CertificatePem() const {
    std::ifstream in(folder_.path() + "/cert.pem", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string FtpTestServer::CertificateFingerprint() const {
    // As the openssl tool prints it: "sha256 Fingerprint=AB:CD:...".
    const std::string command =
        "openssl x509 -noout -fingerprint -sha256 -in '" + folder_.path() + "/cert.pem'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run openssl");
    std::string output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
    const auto equals = output.find('=');
    if (equals == std::string::npos) throw std::runtime_error("openssl printed no fingerprint: " + output);
    std::string fingerprint = output.substr(equals + 1);
    while (!fingerprint.empty() && (fingerprint.back() == '\n' || fingerprint.back() == '\r'))
        fingerprint.pop_back();
    return fingerprint;
}

FtpTestServer::~FtpTestServer() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

std::string FtpTestServer::HostAndPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string FtpTestServer::RootFolder() const {
    return folder_.path() + "/root";
}

std::string FtpTestServer::LoginFolder() const {
    return RootFolder() + "/login";
}

std::vector<std::string> FtpTestServer::Events() const {
    std::vector<std::string> events;
    std::ifstream in(folder_.path() + "/control/events", std::ios::binary);
    for (std::string line; std::getline(in, line);) events.push_back(line);
    return events;
}

int FtpTestServer::LoginCount() const {
    int logins = 0;
    for (const auto& event : Events()) logins += event == "LOGIN" ? 1 : 0;
    return logins;
}

std::vector<std::string> FtpTestServer::StoredPaths() const {
    std::vector<std::string> paths;
    for (const auto& event : Events())
        if (event.rfind("STOR ", 0) == 0) paths.push_back(event.substr(5));
    return paths;
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

std::string FtpTestServer::ControlFile(const std::string& name) const {
    return folder_.path() + "/control/" + name;
}

void FtpTestServer::AddControlLine(const std::string& name, const std::string& line) {
    std::ofstream(ControlFile(name), std::ios::binary | std::ios::app) << line << "\n";
}

void FtpTestServer::DropConnectionDuringNextUpload(std::uint64_t afterBytes) {
    WriteTestFile(ControlFile("drop_after"), std::to_string(afterBytes));
}

void FtpTestServer::RefuseWithQuotaExceeded(const std::string& fileName) {
    AddControlLine("quota_names", fileName);
}

void FtpTestServer::LimitConnections(int count) {
    WriteTestFile(ControlFile("max_connections"), std::to_string(count));
}

void FtpTestServer::RefuseListings() {
    WriteTestFile(ControlFile("no_mlsd"), "");
}

void FtpTestServer::RefuseRenameAndDelete() {
    WriteTestFile(ControlFile("store_only"), "");
}

void FtpTestServer::RefuseModeChanges() {
    WriteTestFile(ControlFile("no_site_chmod"), "");
}

void FtpTestServer::FallSilentAfterEachUpload() {
    WriteTestFile(ControlFile("silent_after_store"), "");
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
