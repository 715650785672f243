#pragma once

#include "sources/Entries.h"
#include "sources/FtpTransfer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The connections a run uploads over, TARNWICK_REMOTE_CONNECTIONS (1 to 16)
// when it holds such a number, else 4.
int RemoteConnectionsFromEnvironment();

struct UploadTask {
    std::string localPath;
    std::string remoteDirectory;
    LocalLinks links = LocalLinks::Refuse;
};

struct UploadResult {
    // NotTried: the server had been given up; Cancelled: the run was stopped
    // before or while the file moved. Neither is a failure of the file.
    enum class Kind { Uploaded, Skipped, Failed, NotTried, Cancelled };
    UploadTask task;
    Kind kind = Kind::Failed;
    std::uint64_t storedSize = 0;
    std::string error;
    bool timedOut = false;
};

// Uploads over several connections at once, each a thread of its own owning
// one session (one login for the run), so every transfer keeps the session's
// rules (part file and rename, rename-refused fallback, listing per folder).
// Threads rather than one multi handle: the session's operations are written
// as blocking sequences of requests, and a thread per connection reuses them
// as they are. Only the owner's thread calls the public functions; results
// come back to it through TakeResults, so the run's counters, reporter and
// log stay on that thread.
class FtpUploadPool {
public:
    struct Settings {
        FtpParameters ftp;
        std::string settingsFolder;
        bool incremental = false;
        int connections = 4;
        FtpTimeouts timeouts;
    };

    explicit FtpUploadPool(Settings settings);
    // Abandons what is still queued and waits for the connections to end.
    ~FtpUploadPool();
    FtpUploadPool(const FtpUploadPool&) = delete;
    FtpUploadPool& operator=(const FtpUploadPool&) = delete;

    // Logs the first connection in and makes the remote base folder, calling
    // idle at least every 50 ms meanwhile. Empty when the server can be used,
    // else why not.
    std::string Open(const std::function<void()>& idle);

    // Queues a file. The first file of a remote folder goes alone; the others
    // of that folder wait until it is done, so each folder is made once, by
    // one connection, before files go into it. The other connections log in
    // once a second file comes; one the server refuses is given up without a
    // failure and the run goes on over fewer.
    void Submit(UploadTask task);
    // Results of the files finished since the last call.
    std::vector<UploadResult> TakeResults();
    // Waits up to timeout for a result or for everything to be done.
    void WaitForResults(std::chrono::milliseconds timeout);
    // Files queued, waiting for their folder or moving.
    std::size_t Outstanding() const;
    // No file left to move and no result left to take.
    bool Done() const;
    // The server stopped answering (two time-outs in a row): later files are
    // not tried.
    bool GivenUp() const;
    // Queued files are dropped and the transfers in progress abandoned.
    void Cancel();
    // The progress of each connection's transfer, the bytes over the run
    // summed over all connections; nullopt when nothing moved since the last call.
    std::optional<TransferProgress> TakeProgress();
    // Connections that logged in.
    int ConnectionsOpen() const;

    static constexpr int kTimeoutsBeforeGivingUp = 2;

private:
    struct Worker;
    struct QueuedTask {
        UploadTask task;
        bool directoryExists = false;
        int preferredWorker = -1;
    };

    void StartWorker();
    void Work(Worker& worker);
    bool LogIn(FtpSession& session);
    std::optional<QueuedTask> NextTask(int workerIndex);
    UploadResult Upload(FtpSession& session, const QueuedTask& queued);
    void Finished(int workerIndex, UploadResult result);
    void ReleaseFolder(const std::string& directory, bool made, int workerIndex);
    void Queue(QueuedTask queued);

    const Settings settings_;
    std::vector<std::unique_ptr<Worker>> workers_;
    mutable std::mutex mutex_;
    std::condition_variable taskReady_;
    mutable std::condition_variable resultReady_;
    std::deque<QueuedTask> queue_;
    // Folders whose first file is on its way, with the files waiting for it.
    std::map<std::string, std::vector<UploadTask>> waiting_;
    // Folders whose first file is done: whether it made the folder.
    std::map<std::string, bool> madeFolders_;
    std::size_t waitingCount_ = 0;
    std::size_t moving_ = 0;
    std::vector<UploadResult> results_;
    int connectionsOpen_ = 0;
    bool firstLoggedIn_ = false;
    std::string openError_;
    int consecutiveTimeouts_ = 0;
    bool givenUp_ = false;
    bool stopping_ = false;
    std::atomic<bool> cancelled_ = false;
    std::size_t submitted_ = 0;
};
