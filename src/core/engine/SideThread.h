#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// One thread that runs one job at a time beside the caller's own work:
// Start hands a job over and returns at once, Wait returns once it is done
// (and rethrows what it threw). A job the thread has not begun by then (a
// busy machine may not give it a turn soon) is run by Wait itself, so the
// caller never sits idle waiting for the thread to be scheduled. Started
// lazily, once, for as many jobs as the owner has; the jobs' writes are
// visible to the caller after Wait.
class SideThread {
public:
    SideThread() = default;
    ~SideThread();
    SideThread(const SideThread&) = delete;
    SideThread& operator=(const SideThread&) = delete;

    // At most one job at a time: the one before must have been waited for.
    void Start(std::function<void()> job);
    void Wait();

private:
    void Serve();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;
    bool busy_ = false;
    bool ending_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};
