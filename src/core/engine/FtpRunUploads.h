#pragma once

#include "engine/BackupEngine.h"
#include "engine/FtpUploadPool.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The uploads of one run to its remote server, over a few connections at once
// (one login each for the whole run): files under exceptions and links found
// in folders held back, only stored files counted, each failure reported for
// its file, and a server that stops answering given up instead of costing its
// time-out for every remaining file. Counters, reports and log lines are all
// written on the run's own thread.
class FtpRunUploads {
public:
    // context.reporter collects the run's failures; log writes one line to the
    // history log when the log is on.
    FtpRunUploads(BackupContext& context, bool incremental, std::function<void(const std::string&)> log);

    // Logs in and makes the remote base folder, once per run. False when the
    // server cannot be used (down, refusing the login, silent); it has been
    // reported then.
    bool EnsureRemoteBase();

    // A file the user named as an entry: taken as it is, through a link if it
    // is one, into the remote base folder.
    void UploadEntryFile(const std::string& entry);
    // A file the folder walk found, into remoteDirectory.
    void UploadFoundFile(const std::string& file, const std::string& remoteDirectory);

    // Waits for the files still moving (the window kept alive, a stop request
    // honoured), then reports in one line all the files the run did not even try.
    void Finish();

private:
    std::string RemoteBaseText() const;
    void UploadToServer(const std::string& localPath, const std::string& remoteDirectory, LocalLinks links);
    void WaitABit();
    void WhileWaiting();
    void TakeResults();
    void Count(const UploadResult& result);

    BackupContext& context_;
    RunState& run_;
    std::function<void(const std::string&)> log_;
    FtpUploadPool::Settings settings_;
    std::optional<FtpUploadPool> pool_;
    bool remoteUsable_ = true;
    std::int32_t filesNotUploaded_ = 0;
    std::string notUploadedReason_;
};
