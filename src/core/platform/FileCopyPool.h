#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// One file's copy, in two halves: Run does the file system work on whichever
// thread takes it; Finish applies what Run found (counts, reports, progress)
// on the thread that submitted it.
class FileCopyJob {
public:
    virtual ~FileCopyJob() = default;
    virtual void Run() = 0;
    virtual void Finish() = 0;
};

// Copies many small files on a few threads while the submitting thread walks
// on, and finishes the jobs on the submitting thread in the order they came,
// so that whoever watches sees what copying them one after another shows.
// Threads start only once several jobs wait, so a copy of a few files costs no
// thread start; while the submitting thread waits for the next result it runs
// a job no thread has taken yet. With no workers every job runs and finishes
// at once, as it is submitted.
class FileCopyPool {
public:
    explicit FileCopyPool(unsigned workers);
    // Drops the jobs not started and waits for the running ones.
    ~FileCopyPool();
    FileCopyPool(const FileCopyPool&) = delete;
    FileCopyPool& operator=(const FileCopyPool&) = delete;

    void Submit(std::unique_ptr<FileCopyJob> job);
    // Runs and finishes every job submitted so far.
    void FinishAll();
    // For unwinding: drops the jobs not started and waits for the running
    // ones, so nothing still uses what the caller is about to close.
    void Abandon() noexcept;

    // The workers a copy uses: TARNWICK_COPY_THREADS (1-16, where 1 means
    // none: the submitting thread copies alone), else one per core, 2 to 8.
    static unsigned WorkersToUse();

private:
    struct Slot {
        std::unique_ptr<FileCopyJob> job;
        bool done = false;
        std::exception_ptr failure;
    };

    void StartWorkers();
    void Work();
    static void RunJob(Slot& slot);
    // Runs the first job no thread has taken; with the lock held, which it
    // lets go meanwhile.
    void RunNextJob(std::unique_lock<std::mutex>& lock);
    // Takes the oldest job off the queue once it is done, running jobs no
    // worker has taken yet while it waits, then finishes it.
    void FinishOldest(std::unique_lock<std::mutex>& lock);
    bool OldestDone() const { return !slots_.empty() && slots_.front().done; }

    const unsigned workers_;
    std::mutex mutex_;
    std::condition_variable jobWaiting_;
    std::condition_variable jobDone_;
    // Jobs in submission order; the first `taken_` of them were taken by a
    // thread (jobs are taken in order).
    std::deque<Slot> slots_;
    std::size_t taken_ = 0;
    bool stopping_ = false;
    bool started_ = false;
    std::vector<std::thread> threads_;
};
