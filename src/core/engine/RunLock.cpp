#include "engine/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>

std::string RunLock::LockFilePath(const std::string& settingsFolder) {
    return settingsFolder + "/run.lock";
}

RunLock::RunLock(const std::string& settingsFolder) {
    if (settingsFolder.empty()) {
        held_ = true;
        return;
    }
    fd_ = ::open(LockFilePath(settingsFolder).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        // A lock file that cannot be created must not stop every backup: without
        // it the run goes ahead unguarded, as a run without a settings folder does.
        held_ = true;
        return;
    }
    int result = 0;
    do {
        result = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    held_ = result == 0 || errno != EWOULDBLOCK;
}

RunLock::~RunLock() {
    // Closing the descriptor releases the lock; the file itself stays, so that a
    // second process never locks a file that is about to be unlinked.
    if (fd_ >= 0) ::close(fd_);
}
