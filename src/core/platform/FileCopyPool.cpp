#include "platform/FileCopyPool.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace {
// A folder of fewer files is copied by the submitting thread alone: starting
// threads costs more than they would save there.
constexpr std::size_t kJobsBeforeThreads = 16;
// How far the submitting thread may list ahead of the oldest unfinished job:
// enough to keep every worker busy, few enough that the files a stop request
// still lets finish, and the descriptors results hold, stay few.
constexpr std::size_t kMostJobsAhead = 64;
constexpr unsigned kFewestWorkers = 2;
constexpr unsigned kMostWorkers = 8;
constexpr unsigned kMostThreadsAsked = 16;
}  // namespace

FileCopyPool::FileCopyPool(unsigned workers) : workers_(workers) {}

FileCopyPool::~FileCopyPool() {
    Abandon();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    jobWaiting_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

unsigned FileCopyPool::WorkersToUse() {
    if (const char* asked = std::getenv("TARNWICK_COPY_THREADS")) {
        unsigned threads = 0;
        const char* end = asked + std::strlen(asked);
        const auto [stop, error] = std::from_chars(asked, end, threads);
        if (error == std::errc() && stop == end && threads >= 1 && threads <= kMostThreadsAsked)
            return threads == 1 ? 0 : threads;
    }
    return std::clamp(std::thread::hardware_concurrency(), kFewestWorkers, kMostWorkers);
}

void FileCopyPool::Submit(std::unique_ptr<FileCopyJob> job) {
    if (workers_ == 0) {
        job->Run();
        job->Finish();
        return;
    }
    std::unique_lock lock(mutex_);
    slots_.emplace_back().job = std::move(job);
    if (started_)
        jobWaiting_.notify_one();
    else if (slots_.size() - taken_ >= kJobsBeforeThreads)
        StartWorkers();
    while (slots_.size() > kMostJobsAhead) FinishOldest(lock);
    // What is done already is finished now, so progress keeps pace.
    while (OldestDone()) FinishOldest(lock);
}

void FileCopyPool::FinishAll() {
    std::unique_lock lock(mutex_);
    while (!slots_.empty()) FinishOldest(lock);
}

void FileCopyPool::Abandon() noexcept {
    std::unique_lock lock(mutex_);
    slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(taken_), slots_.end());
    while (!slots_.empty()) {
        jobDone_.wait(lock, [&] { return slots_.front().done; });
        slots_.pop_front();
        --taken_;
    }
}

// Called with the lock held; the new threads wait for it.
void FileCopyPool::StartWorkers() {
    started_ = true;
    try {
        for (unsigned index = 0; index < workers_; ++index) threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
        // No more threads to be had: those running, or the submitting thread
        // alone, copy everything all the same.
    }
}

void FileCopyPool::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        jobWaiting_.wait(lock, [&] { return stopping_ || taken_ < slots_.size(); });
        if (stopping_) return;
        RunNextJob(lock);
    }
}

void FileCopyPool::RunNextJob(std::unique_lock<std::mutex>& lock) {
    // Slots stay where they are while others are added or finished.
    Slot& slot = slots_[taken_++];
    lock.unlock();
    RunJob(slot);
    lock.lock();
    slot.done = true;
    // Only the oldest job is ever waited for.
    if (&slot == &slots_.front()) jobDone_.notify_one();
}

void FileCopyPool::RunJob(Slot& slot) {
    try {
        slot.job->Run();
    } catch (...) {
        slot.failure = std::current_exception();
    }
}

void FileCopyPool::FinishOldest(std::unique_lock<std::mutex>& lock) {
    Slot& oldest = slots_.front();
    // Rather than wait idle, this thread copies too.
    while (!oldest.done) {
        if (taken_ < slots_.size())
            RunNextJob(lock);
        else
            jobDone_.wait(lock);
    }
    const std::unique_ptr<FileCopyJob> job = std::move(oldest.job);
    const std::exception_ptr failure = oldest.failure;
    slots_.pop_front();
    --taken_;
    // Finishing reports to the caller's reporter, which may take its time.
    lock.unlock();
    if (failure) std::rethrow_exception(failure);
    job->Finish();
    lock.lock();
}
