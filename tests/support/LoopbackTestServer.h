#pragma once

#include "support/TempHome.h"

#include <sys/types.h>

#include <string>
#include <vector>

// What the loopback test servers share: a script of tests/support run with the
// system Python on 127.0.0.1, serving a fresh temporary folder whose "login"
// folder the user starts in, driven through files in a control folder and
// noting what it did in the control folder's "events". Stopped (killed and
// waited for) at destruction.
class LoopbackTestServer {
public:
    LoopbackTestServer(const LoopbackTestServer&) = delete;
    LoopbackTestServer& operator=(const LoopbackTestServer&) = delete;

    int port() const { return port_; }
    // "127.0.0.1:<port>", the server text the operations take.
    std::string HostAndPort() const;
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    // The server's "/" and the login directory, as folders on this machine.
    std::string RootFolder() const;
    std::string LoginFolder() const;
    // Remote paths of the files stored so far, in order.
    std::vector<std::string> StoredPaths() const;

protected:
    LoopbackTestServer(std::string user, std::string password);
    ~LoopbackTestServer();

    // Starts `script` on `port` (0: a free one) with the root, control folder
    // and login, and `extra` arguments; waits until it listens.
    void Launch(const std::string& script, int port, const std::vector<std::string>& extra);
    void Stop();

    // A file of the server's own (keys, certificates) beside its root.
    std::string OwnFile(const std::string& name) const;
    // The lines of the control folder's "events", in order.
    std::vector<std::string> Events() const;
    std::string ControlFile(const std::string& name) const;
    void AddControlLine(const std::string& name, const std::string& line);
    void WriteControlFile(const std::string& name, const std::string& content = "");

private:
    std::string user_;
    std::string password_;
    TempFolder folder_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// Starts a test server (arguments[0] is the program) with its error output in
// logFile, and waits for its line "READY <port>". Throws when it does not start.
pid_t SpawnReadyServer(std::vector<std::string> arguments, const std::string& logFile, int& port);
// The bytes as lower-case hexadecimal digits.
std::string HexOf(const std::string& bytes);
// What a shell command prints (standard output and errors).
std::string CommandOutput(const std::string& command);
