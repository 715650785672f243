#include "engine/SideThread.h"

#include <utility>

SideThread::~SideThread() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        job_ = nullptr;  // not begun: nobody waits for it any more
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void SideThread::Start(std::function<void()> job) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        job_ = std::move(job);
        busy_ = true;
    }
    if (!thread_.joinable())
        thread_ = std::thread([this] { Serve(); });
    else
        changed_.notify_all();
}

void SideThread::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (job_) {
        std::function<void()> job = std::exchange(job_, nullptr);
        busy_ = false;
        lock.unlock();
        job();
        return;
    }
    changed_.wait(lock, [this] { return !busy_; });
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void SideThread::Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return job_ || ending_; });
        if (!job_) return;
        std::function<void()> job = std::exchange(job_, nullptr);
        lock.unlock();
        try {
            job();
        } catch (...) {
            lock.lock();
            failure_ = std::current_exception();
            lock.unlock();
        }
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}
