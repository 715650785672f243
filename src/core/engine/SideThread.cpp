#include "engine/SideThread.h"

#include <utility>

SideThread::~SideThread() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
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
    changed_.wait(lock, [this] { return !busy_; });
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void SideThread::Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || ending_; });
        if (!busy_) return;
        std::function<void()> job = std::move(job_);
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
