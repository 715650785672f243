#include "support/LoopbackTestServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace {
// Reads the line "READY <port>" the server prints once it listens.
int AwaitReadyLine(int fd, std::chrono::seconds limit) {
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (output.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw std::runtime_error("the test server did not start in time");
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[256];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) throw std::runtime_error("the test server stopped before it was ready");
        output.append(buffer, static_cast<std::size_t>(got));
    }
    if (output.rfind("READY ", 0) != 0) throw std::runtime_error("the test server said: " + output);
    return std::stoi(output.substr(6));
}
}  // namespace

LoopbackTestServer::LoopbackTestServer(std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)) {
    std::filesystem::create_directories(LoginFolder());
    std::filesystem::create_directories(folder_.path() + "/control");
}

LoopbackTestServer::~LoopbackTestServer() {
    Stop();
}

void LoopbackTestServer::Launch(const std::string& script, int port, const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {
        "/usr/bin/python3", std::string(TARNWICK_SOURCE_DIR) + "/tests/support/" + script,
        "--root",           RootFolder(),
        "--control",        folder_.path() + "/control",
        "--user-hex",       HexOf(user_),
        "--password-hex",   HexOf(password_),
        "--port",           std::to_string(port)};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    pid_ = SpawnReadyServer(arguments, folder_.path() + "/server.log", port_);
}

void LoopbackTestServer::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string LoopbackTestServer::HostAndPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string LoopbackTestServer::RootFolder() const {
    return folder_.path() + "/root";
}

std::string LoopbackTestServer::LoginFolder() const {
    return RootFolder() + "/login";
}

std::string LoopbackTestServer::OwnFile(const std::string& name) const {
    return folder_.path() + "/" + name;
}

std::vector<std::string> LoopbackTestServer::Events() const {
    std::vector<std::string> events;
    std::ifstream in(ControlFile("events"), std::ios::binary);
    for (std::string line; std::getline(in, line);) events.push_back(line);
    return events;
}

std::vector<std::string> LoopbackTestServer::StoredPaths() const {
    std::vector<std::string> paths;
    for (const auto& event : Events())
        if (event.rfind("STOR ", 0) == 0) paths.push_back(event.substr(5));
    return paths;
}

std::string LoopbackTestServer::ControlFile(const std::string& name) const {
    return folder_.path() + "/control/" + name;
}

void LoopbackTestServer::AddControlLine(const std::string& name, const std::string& line) {
    std::ofstream(ControlFile(name), std::ios::binary | std::ios::app) << line << "\n";
}

void LoopbackTestServer::WriteControlFile(const std::string& name, const std::string& content) {
    WriteTestFile(ControlFile(name), content);
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
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return hex;
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
