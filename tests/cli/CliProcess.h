#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The CLI started as a real process with its output on pipes. The child
// inherits the environment, so a TempHome in the test applies to it.
class CliProcess {
public:
    // input, when given, is the child's whole standard input; without it the
    // child reads an empty one (never the test's terminal).
    explicit CliProcess(const std::vector<std::string>& arguments, const std::string& input = {});
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Reads stderr until one whole line has arrived (false at end of output).
    bool WaitForStderrLine();
    void Signal(int signalNumber);
    // The files the process holds open now (targets of /proc/<pid>/fd).
    std::vector<std::string> OpenFiles() const;
    // Reads both pipes to their end and returns the exit code (128 + signal
    // when the child was killed by one).
    int Finish();

    const std::string& Stdout() const { return stdout_; }
    const std::string& Stderr() const { return stderr_; }

private:
    bool ReadSome(bool stderrOnly);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string stdout_;
    std::string stderr_;
};

// Runs the CLI to its end.
struct CliResult {
    int exitCode;
    std::string out;
    std::string err;
};
CliResult RunCli(const std::vector<std::string>& arguments, const std::string& input = {});
