#pragma once

#include <unistd.h>

// Owns one open file descriptor (-1: none) and closes it when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.Release();
        }
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Closes now, so that a failing close can be reported: 0 or -1 with errno.
    int Close() { return fd_ < 0 ? 0 : ::close(Release()); }

private:
    int fd_;
};
