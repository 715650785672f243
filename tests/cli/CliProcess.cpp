#include "CliProcess.h"

#include "support/TempHome.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <filesystem>
#include <stdexcept>

CliProcess::CliProcess(const std::vector<std::string>& arguments, const std::string& input) {
    int outPipe[2];
    int errPipe[2];
    int inPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 ||
        ::pipe2(inPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    // Small enough for the pipe's buffer: written before the child starts.
    if (::write(inPipe[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        throw std::runtime_error("input too large for the pipe");
    ::close(inPipe[1]);
    const std::string program = BinFolder() + "/tarnwick-backup-cli";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::dup2(inPipe[0], STDIN_FILENO);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
}

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) ::close(outFd_);
    if (errFd_ >= 0) ::close(errFd_);
}

bool CliProcess::ReadSome(bool stderrOnly) {
    pollfd fds[2] = {{errFd_, POLLIN, 0}, {stderrOnly ? -1 : outFd_, POLLIN, 0}};
    if (errFd_ < 0 && (stderrOnly || outFd_ < 0)) return false;
    if (::poll(fds, 2, 60'000) <= 0) return false;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        int& fd = i == 0 ? errFd_ : outFd_;
        if (n <= 0) {
            ::close(fd);
            fd = -1;
        } else {
            (i == 0 ? stderr_ : stdout_).append(buffer, static_cast<std::size_t>(n));
        }
    }
    return true;
}

bool CliProcess::WaitForStderrLine() {
    while (stderr_.find('\n') == std::string::npos)
        if (!ReadSome(true)) return false;
    return true;
}

void CliProcess::Signal(int signalNumber) {
    ::kill(pid_, signalNumber);
}

int CliProcess::Finish() {
    while (ReadSome(false)) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

CliResult RunCli(const std::vector<std::string>& arguments, const std::string& input) {
    CliProcess process(arguments, input);
    const int code = process.Finish();
    return {code, process.Stdout(), process.Stderr()};
}

std::vector<std::string> CliProcess::OpenFiles() const {
    std::vector<std::string> files;
    std::error_code error;
    const std::filesystem::path folder = "/proc/" + std::to_string(pid_) + "/fd";
    for (auto it = std::filesystem::directory_iterator(folder, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        std::error_code unreadable;
        const std::filesystem::path target = std::filesystem::read_symlink(it->path(), unreadable);
        if (!unreadable) files.push_back(target.string());
    }
    return files;
}
