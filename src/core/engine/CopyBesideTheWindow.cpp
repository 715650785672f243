#include "engine/CopyBesideTheWindow.h"

#include "util/FileStatus.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {
constexpr auto kPumpInterval = std::chrono::milliseconds(15);
// A single file up to this size is copied on the calling thread: a thread of
// its own would cost more than the file (incremental runs copy file by file).
constexpr off_t kInPlaceLimit = 256 * 1024;

bool IsSmallSingleFile(const std::string& source) {
    struct stat status {};
    return !IsWildcardPattern(source) && ::stat(source.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           status.st_size <= kInPlaceLimit;
}

// Takes the reports of the copying thread and hands them over, in order, on
// the thread that drains it.
class ReportQueue : public TransferReporter {
public:
    void ReportError(const std::string& path, const std::string& message) override {
        Push({true, path, message, {}});
    }
    void ReportProgress(const TransferProgress& progress) override { Push({false, {}, {}, progress}); }

    void Finish() {
        const std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        arrived_.notify_one();
    }

    // Waits up to `timeout` for reports or the end, then passes on what came;
    // true once the copy is over and everything has been passed on.
    bool PassOn(TransferReporter& to, std::chrono::milliseconds timeout) {
        std::vector<Report> reports;
        bool finished = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            arrived_.wait_for(lock, timeout, [this] { return finished_ || !reports_.empty(); });
            reports.swap(reports_);
            finished = finished_;
        }
        for (const Report& report : reports) {
            if (report.isError)
                to.ReportError(report.path, report.message);
            else
                to.ReportProgress(report.progress);
        }
        return finished;
    }

private:
    struct Report {
        bool isError;
        std::string path;
        std::string message;
        TransferProgress progress;
    };

    void Push(Report report) {
        const std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back(std::move(report));
        arrived_.notify_one();
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Report> reports_;
    bool finished_ = false;
};
}  // namespace

CopyOutcome CopyBesideTheWindow(const std::string& source, const std::string& destination,
                                const CopyOptions& options, TransferReporter& reporter,
                                BackupWindow& window) {
    if (IsSmallSingleFile(source)) return ShellCopy(source, destination, options, reporter);
    ReportQueue queue;
    CopyOutcome outcome;
    std::exception_ptr failure;
    // The stop request belongs to this thread; the copy sees it through a flag
    // set after each pump.
    std::atomic<bool> stop{false};
    CopyOptions copyOptions = options;
    if (options.stopRequested) copyOptions.stopRequested = [&stop] { return stop.load(); };
    std::thread copier([&] {
        try {
            outcome = ShellCopy(source, destination, copyOptions, queue);
        } catch (...) {
            failure = std::current_exception();
        }
        queue.Finish();
    });
    auto lastPump = std::chrono::steady_clock::now();
    while (!queue.PassOn(reporter, kPumpInterval)) {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastPump < kPumpInterval) continue;
        lastPump = now;
        window.PumpMessages();
        if (options.stopRequested && options.stopRequested()) stop = true;
    }
    copier.join();
    if (failure) std::rethrow_exception(failure);
    return outcome;
}
