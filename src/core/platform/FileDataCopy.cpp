#include "platform/FileDataCopy.h"

#include <sys/sendfile.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <vector>

namespace {
constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kUnobservedChunk = 1024 * kMiB;
constexpr std::uint64_t kFirstObservedChunk = 4 * kMiB;
constexpr std::uint64_t kSmallestChunk = 256 * 1024;
// Small enough that a disk which starts to hold back writes (the kernel's
// dirty-page limit) delays one chunk by tens of milliseconds, not hundreds.
constexpr std::uint64_t kLargestChunk = 8 * kMiB;
constexpr std::int64_t kChunkGoalNs = 20'000'000;

enum class Method { CopyFileRange, SendFile, ReadWrite };

bool KernelRefuses(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP ||
           error == EBADF || error == EPERM || error == ETXTBSY;
}

std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Returns bytes moved (0 at the source's end) or -1 with errno set.
ssize_t ReadWriteChunk(int from, int to, off_t offset, std::size_t length) {
    static thread_local std::vector<char> buffer(1024 * 1024);
    const ssize_t got = ::pread(from, buffer.data(), std::min(length, buffer.size()), offset);
    if (got <= 0) return got;
    for (ssize_t written = 0; written < got;) {
        const ssize_t put =
            ::pwrite(to, buffer.data() + written, static_cast<std::size_t>(got - written), offset + written);
        if (put < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        written += put;
    }
    return got;
}

class ChunkCopier {
public:
    ChunkCopier(int from, int to) : from_(from), to_(to) {}

    // Moves up to `length` bytes at `offset`; 0 means the source ended early.
    ssize_t Copy(off_t offset, std::size_t length) {
        for (;;) {
            ssize_t moved = -1;
            switch (method_) {
                case Method::CopyFileRange: {
                    loff_t in = offset, out = offset;
                    moved = ::copy_file_range(from_, &in, to_, &out, length, 0);
                    // Some file systems report 0 before the real end; let read() decide.
                    if (moved == 0) {
                        method_ = Method::ReadWrite;
                        continue;
                    }
                    break;
                }
                case Method::SendFile: {
                    off_t in = offset;
                    if (::lseek(to_, offset, SEEK_SET) < 0) return -1;
                    moved = ::sendfile(to_, from_, &in, length);
                    break;
                }
                case Method::ReadWrite:
                    moved = ReadWriteChunk(from_, to_, offset, length);
                    break;
            }
            if (moved >= 0) return moved;
            if (errno == EINTR) continue;
            if (method_ == Method::ReadWrite || !KernelRefuses(errno)) return -1;
            method_ = method_ == Method::CopyFileRange ? Method::SendFile : Method::ReadWrite;
        }
    }

private:
    int from_;
    int to_;
    Method method_ = Method::CopyFileRange;
};

std::uint64_t NextChunkSize(std::uint64_t chunk, std::int64_t tookNs) {
    // Slower than the goal: down to the size the goal allows at once, so the
    // next report is not late as well.
    if (tookNs > kChunkGoalNs)
        return std::max(kSmallestChunk, chunk * static_cast<std::uint64_t>(kChunkGoalNs) /
                                            static_cast<std::uint64_t>(tookNs));
    if (tookNs < kChunkGoalNs / 2) return std::min(kLargestChunk, chunk * 2);
    return chunk;
}
}  // namespace

int CopyFileData(int from, int to, std::uint64_t size, DataCopyObserver* observer) {
    ChunkCopier copier(from, to);
    std::uint64_t chunk = observer ? kFirstObservedChunk : kUnobservedChunk;
    std::uint64_t done = 0;
    while (done < size) {
        const std::uint64_t wanted = std::min(chunk, size - done);
        const std::int64_t started = observer ? MonotonicNs() : 0;
        std::uint64_t chunkDone = 0;
        while (chunkDone < wanted) {
            const ssize_t moved = copier.Copy(static_cast<off_t>(done + chunkDone),
                                              static_cast<std::size_t>(wanted - chunkDone));
            if (moved < 0) return errno;
            if (moved == 0) return 0;  // the source shrank while it was copied
            chunkDone += static_cast<std::uint64_t>(moved);
        }
        done += chunkDone;
        if (observer) {
            chunk = NextChunkSize(chunk, MonotonicNs() - started);
            observer->ChunkCopied(done);
        }
    }
    return 0;
}
