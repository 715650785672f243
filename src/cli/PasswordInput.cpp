#include "cli/PasswordInput.h"

#include "cli/ProjectCommand.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

namespace {
// Echo is off while it lives, and back as it was afterwards.
class EchoOff {
public:
    EchoOff() : active_(::tcgetattr(STDIN_FILENO, &saved_) == 0) {
        if (!active_) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~EchoOff() {
        if (active_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios saved_{};
    bool active_;
};
}  // namespace

std::string ReadPassword(const std::string& prompt, std::ostream& err) {
    std::string password;
    bool read = false;
    if (::isatty(STDIN_FILENO) != 0) {
        err << prompt << std::flush;
        {
            const EchoOff echoOff;
            read = static_cast<bool>(std::getline(std::cin, password));
        }
        err << '\n';
    } else {
        read = static_cast<bool>(std::getline(std::cin, password));
    }
    if (!read) throw Refusal("no password was given on standard input");
    if (password.ends_with('\r')) password.pop_back();
    return password;
}
