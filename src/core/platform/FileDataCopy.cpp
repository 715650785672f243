#include "platform/FileDataCopy.h"

#include <sys/sendfile.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
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
// How often the caller hears of a file that moves beside it.
constexpr std::chrono::milliseconds kObserverInterval{15};
// What a large file moves before its helper thread takes over.
constexpr std::uint64_t kFirstPiece = kSmallestChunk;

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

namespace {
// The copy loop from byte `begin` up to `size`; `chunkDone` (may be empty)
// hears of every chunk moved.
int CopyInChunks(int from, int to, std::uint64_t begin, std::uint64_t size, bool observed,
                 const std::function<void(std::uint64_t)>& chunkDone) {
    ChunkCopier copier(from, to);
    std::uint64_t chunk = observed ? kFirstObservedChunk : kUnobservedChunk;
    std::uint64_t done = begin;
    while (done < size) {
        const std::uint64_t wanted = std::min(chunk, size - done);
        const std::int64_t started = observed ? MonotonicNs() : 0;
        std::uint64_t moved = 0;
        while (moved < wanted) {
            const ssize_t step =
                copier.Copy(static_cast<off_t>(done + moved), static_cast<std::size_t>(wanted - moved));
            if (step < 0) return errno;
            if (step == 0) return 0;  // the source shrank while it was copied
            moved += static_cast<std::uint64_t>(step);
        }
        done += moved;
        if (observed) {
            chunk = NextChunkSize(chunk, MonotonicNs() - started);
            chunkDone(done);
        }
    }
    return 0;
}

// A large observed file moves on a thread of its own while the caller's thread
// hears of it at a steady pace, also while the kernel holds a write back (a
// disk at its dirty-page limit can stall one call for hundreds of
// milliseconds). The observer is only ever called on the caller's thread. The
// first small piece moves on the caller's thread, so the observer always hears
// of the file before its end.
int CopyBesideTheCaller(int from, int to, std::uint64_t size, DataCopyObserver& observer) {
    int result = CopyInChunks(from, to, 0, kFirstPiece, false, {});
    if (result != 0) return result;
    observer.ChunkCopied(kFirstPiece);
    std::atomic<std::uint64_t> done{kFirstPiece};
    std::mutex mutex;
    std::condition_variable finishedSignal;
    bool finished = false;
    std::thread mover([&] {
        const int error =
            CopyInChunks(from, to, kFirstPiece, size, true, [&](std::uint64_t bytes) { done.store(bytes); });
        const std::lock_guard<std::mutex> lock(mutex);
        result = error;
        finished = true;
        finishedSignal.notify_one();
    });
    for (bool over = false; !over;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            over = finishedSignal.wait_for(lock, kObserverInterval, [&] { return finished; });
        }
        if (!over) observer.ChunkCopied(done.load());
    }
    mover.join();
    if (result == 0) observer.ChunkCopied(done.load());
    return result;
}
}  // namespace

int CopyFileData(int from, int to, std::uint64_t size, DataCopyObserver* observer) {
    if (observer == nullptr) return CopyInChunks(from, to, 0, size, false, {});
    if (size > kFirstObservedChunk) return CopyBesideTheCaller(from, to, size, *observer);
    return CopyInChunks(from, to, 0, size, true, [observer](std::uint64_t bytes) { observer->ChunkCopied(bytes); });
}
