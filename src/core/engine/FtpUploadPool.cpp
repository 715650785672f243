#include "engine/FtpUploadPool.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {
constexpr int kDefaultConnections = 4;
constexpr int kMostConnections = 16;
}  // namespace

int RemoteConnectionsFromEnvironment() {
    const char* text = std::getenv("TARNWICK_REMOTE_CONNECTIONS");
    if (text == nullptr) return kDefaultConnections;
    const char* end = text + std::strlen(text);
    int count = 0;
    const auto [stop, error] = std::from_chars(text, end, count);
    if (error != std::errc() || stop != end || count < 1 || count > kMostConnections)
        return kDefaultConnections;
    return count;
}

// Keeps the latest progress of one connection for the owner's thread to pick up.
class ProgressSlot : public TransferReporter {
public:
    void ReportError(const std::string&, const std::string&) override {}
    void ReportProgress(const TransferProgress& progress) override {
        const std::lock_guard lock(mutex_);
        latest_ = progress;
        fresh_ = true;
    }
    // The latest progress and whether it is new since the last call.
    std::pair<TransferProgress, bool> Take() {
        const std::lock_guard lock(mutex_);
        return {latest_, std::exchange(fresh_, false)};
    }

private:
    std::mutex mutex_;
    TransferProgress latest_;
    bool fresh_ = false;
};

struct FtpUploadPool::Worker {
    int index = 0;
    ProgressSlot progress;
    std::unique_ptr<FtpSession> session;
    std::thread thread;
};

FtpUploadPool::FtpUploadPool(Settings settings) : settings_(std::move(settings)) {}

FtpUploadPool::~FtpUploadPool() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    Cancel();
    taskReady_.notify_all();
    for (const auto& worker : workers_)
        if (worker->thread.joinable()) worker->thread.join();
}

void FtpUploadPool::StartWorker() {
    auto worker = std::make_unique<Worker>();
    worker->index = static_cast<int>(workers_.size());
    worker->session =
        std::make_unique<FtpSession>(&worker->progress, std::function<void()>{}, settings_.timeouts);
    worker->session->UsePassiveMode(settings_.ftp.passive);
    worker->session->UseProtocol(settings_.ftp.protocol, settings_.settingsFolder);
    worker->session->AbortWhen([this] { return cancelled_.load(); });
    Worker& started = *worker;
    workers_.push_back(std::move(worker));
    started.thread = std::thread([this, &started] { Work(started); });
}

std::string FtpUploadPool::Open(const std::function<void()>& idle) {
    StartWorker();
    std::unique_lock lock(mutex_);
    while (!firstLoggedIn_ && openError_.empty()) {
        lock.unlock();
        idle();
        lock.lock();
        resultReady_.wait_for(lock, std::chrono::milliseconds(50),
                              [this] { return firstLoggedIn_ || !openError_.empty(); });
    }
    return openError_;
}

bool FtpUploadPool::LogIn(FtpSession& session) {
    const FtpParameters& ftp = settings_.ftp;
    FtpEnsureDirectoryPath(session, ftp.server, ftp.user, ftp.password, ftp.remoteBaseDirectory);
    return session.LastError().empty();
}

void FtpUploadPool::Work(Worker& worker) {
    const bool loggedIn = LogIn(*worker.session);
    {
        const std::lock_guard lock(mutex_);
        if (loggedIn) {
            ++connectionsOpen_;
            firstLoggedIn_ = true;
        } else if (worker.index == 0) {
            openError_ = worker.session->LastError();
        }
        // Any other connection the server refuses (421, or a refused login
        // once the first one worked) simply ends: the others carry on.
    }
    resultReady_.notify_all();
    if (!loggedIn) return;
    while (const std::optional<QueuedTask> queued = NextTask(worker.index)) {
        UploadResult result = Upload(*worker.session, *queued);
        Finished(worker.index, std::move(result));
    }
}

// A folder's files go to the connection that made the folder while it has
// nothing else to do, so an incremental run lists each folder once; an idle
// connection takes any file.
std::optional<FtpUploadPool::QueuedTask> FtpUploadPool::NextTask(int workerIndex) {
    std::unique_lock lock(mutex_);
    taskReady_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return std::nullopt;
    auto chosen = queue_.begin();
    for (auto at = queue_.begin(); at != queue_.end(); ++at) {
        if (at->preferredWorker == workerIndex || at->preferredWorker < 0) {
            chosen = at;
            break;
        }
    }
    QueuedTask queued = std::move(*chosen);
    queue_.erase(chosen);
    return queued;
}

UploadResult FtpUploadPool::Upload(FtpSession& session, const QueuedTask& queued) {
    UploadResult result;
    result.task = queued.task;
    if (cancelled_) {
        result.kind = UploadResult::Kind::Cancelled;
        return result;
    }
    {
        const std::lock_guard lock(mutex_);
        if (givenUp_) {
            result.kind = UploadResult::Kind::NotTried;
            return result;
        }
    }
    const FtpParameters& ftp = settings_.ftp;
    const UploadTask& task = queued.task;
    if (queued.directoryExists) FtpNoteDirectoryExists(session, task.remoteDirectory);
    if (settings_.incremental) {
        std::int32_t copied = 0;
        const UploadOutcome outcome =
            FtpUploadIfNewer(session, task.localPath, ftp.server, ftp.user, ftp.password,
                             task.remoteDirectory, copied, result.storedSize, task.links);
        result.kind = outcome == UploadOutcome::Uploaded  ? UploadResult::Kind::Uploaded
                      : outcome == UploadOutcome::Skipped ? UploadResult::Kind::Skipped
                                                          : UploadResult::Kind::Failed;
    } else {
        const bool stored = FtpUploadFile(session, task.localPath, ftp.server, ftp.user, ftp.password,
                                          task.remoteDirectory, task.links);
        result.kind = stored ? UploadResult::Kind::Uploaded : UploadResult::Kind::Failed;
        if (stored) result.storedSize = session.LastStoredSize();
    }
    if (result.kind == UploadResult::Kind::Failed) {
        if (cancelled_) {
            result.kind = UploadResult::Kind::Cancelled;
        } else {
            result.error = session.LastError();
            result.timedOut = session.LastFailureTimedOut();
        }
    }
    return result;
}

// Time-outs count in the order the files finish, whichever connection they
// came over.
void FtpUploadPool::Finished(int workerIndex, UploadResult result) {
    {
        const std::lock_guard lock(mutex_);
        const bool timedOut = result.kind == UploadResult::Kind::Failed && result.timedOut;
        if (result.kind != UploadResult::Kind::NotTried && result.kind != UploadResult::Kind::Cancelled)
            consecutiveTimeouts_ = timedOut ? consecutiveTimeouts_ + 1 : 0;
        if (consecutiveTimeouts_ >= kTimeoutsBeforeGivingUp) givenUp_ = true;
        ReleaseFolder(
            result.task.remoteDirectory,
            result.kind == UploadResult::Kind::Uploaded || result.kind == UploadResult::Kind::Skipped,
            workerIndex);
        results_.push_back(std::move(result));
        --moving_;
    }
    resultReady_.notify_all();
}

void FtpUploadPool::ReleaseFolder(const std::string& directory, bool made, int workerIndex) {
    const auto waiting = waiting_.find(directory);
    if (waiting == waiting_.end()) return;
    // A failed first file may have failed before the folder was made; the
    // others then make it themselves.
    madeFolders_[directory] = made;
    for (UploadTask& task : waiting->second) {
        Queue({std::move(task), made, workerIndex});
        --waitingCount_;
    }
    waiting_.erase(waiting);
}

void FtpUploadPool::Queue(QueuedTask queued) {
    queue_.push_back(std::move(queued));
    ++moving_;
    taskReady_.notify_one();
}

void FtpUploadPool::Submit(UploadTask task) {
    bool startOthers = false;
    {
        const std::lock_guard lock(mutex_);
        if (cancelled_) return;
        ++submitted_;
        startOthers = submitted_ == 2;
        if (const auto made = madeFolders_.find(task.remoteDirectory); made != madeFolders_.end()) {
            Queue({std::move(task), made->second, -1});
        } else if (const auto waiting = waiting_.find(task.remoteDirectory); waiting != waiting_.end()) {
            waiting->second.push_back(std::move(task));
            ++waitingCount_;
        } else {
            waiting_.emplace(task.remoteDirectory, std::vector<UploadTask>{});
            Queue({std::move(task), false, -1});
        }
    }
    // The notify of Queue may have gone to a connection busy elsewhere; the
    // waiting ones all look again.
    taskReady_.notify_all();
    if (startOthers)
        while (static_cast<int>(workers_.size()) < settings_.connections) StartWorker();
}

std::vector<UploadResult> FtpUploadPool::TakeResults() {
    const std::lock_guard lock(mutex_);
    return std::exchange(results_, {});
}

void FtpUploadPool::WaitForResults(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    resultReady_.wait_for(lock, timeout,
                          [this] { return !results_.empty() || (moving_ == 0 && waitingCount_ == 0); });
}

std::size_t FtpUploadPool::Outstanding() const {
    const std::lock_guard lock(mutex_);
    return moving_ + waitingCount_;
}

bool FtpUploadPool::Done() const {
    const std::lock_guard lock(mutex_);
    return moving_ == 0 && waitingCount_ == 0 && results_.empty();
}

bool FtpUploadPool::GivenUp() const {
    const std::lock_guard lock(mutex_);
    return givenUp_;
}

int FtpUploadPool::ConnectionsOpen() const {
    const std::lock_guard lock(mutex_);
    return connectionsOpen_;
}

void FtpUploadPool::Cancel() {
    {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
        moving_ -= queue_.size();
        queue_.clear();
        waiting_.clear();
        waitingCount_ = 0;
    }
    resultReady_.notify_all();
}

std::optional<TransferProgress> FtpUploadPool::TakeProgress() {
    std::optional<TransferProgress> latest;
    std::uint64_t bytesOverAll = 0;
    for (const auto& worker : workers_) {
        auto [progress, fresh] = worker->progress.Take();
        bytesOverAll += progress.bytesDone;
        if (fresh) latest = std::move(progress);
    }
    if (latest) latest->bytesDone = bytesOverAll;
    return latest;
}
