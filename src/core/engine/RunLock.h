#pragma once

#include <string>

// Keeps two runs (the window's and a CLI run started by cron, say) from working
// on the same set-up at once: an exclusive, non-blocking flock on "run.lock" in
// the settings folder, held for the life of the object. The kernel drops the
// lock when the process dies, so a crashed run never leaves a stale lock.
class RunLock {
public:
    // Tries once. An empty folder means "no locking" (the lock counts as held).
    explicit RunLock(const std::string& settingsFolder);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // False only when another holder has the lock.
    bool Held() const { return held_; }

    static std::string LockFilePath(const std::string& settingsFolder);

private:
    int fd_ = -1;
    bool held_ = false;
};
