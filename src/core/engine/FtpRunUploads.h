#pragma once

#include "engine/BackupEngine.h"
#include "sources/FtpTransfer.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The uploads of one run to its FTP server: one session (one login) for the
// whole run, files under exceptions and links found in folders held back,
// only stored files counted, and a server that stops answering given up
// instead of costing its time-out for every remaining file.
class FtpRunUploads {
public:
    // context.reporter collects the run's failures; log writes one line to the
    // history log when the log is on.
    FtpRunUploads(BackupContext& context, bool incremental, std::function<void(const std::string&)> log);

    // Makes the remote base folder, once per run. False when the server cannot
    // be used (down, refusing the login, silent); it has been reported then.
    bool EnsureRemoteBase();

    // A file the user named as an entry: taken as it is, through a link if it
    // is one, into the remote base folder.
    void UploadEntryFile(const std::string& entry);
    // A file the folder walk found, into remoteDirectory.
    void UploadFoundFile(const std::string& file, const std::string& remoteDirectory);

    // One failure line for all the files the run did not even try.
    void ReportFilesNotUploaded();

private:
    FtpSession& Session();
    std::string RemoteBaseText() const;
    void UploadToServer(const std::string& localPath, const std::string& remoteDirectory, LocalLinks links);
    void ReportFailedUpload(const std::string& localPath, const std::string& remoteDirectory,
                            std::size_t failuresBefore);
    void NoteUploadEnd(bool failed);

    BackupContext& context_;
    RunState& run_;
    const bool incremental_;
    std::function<void(const std::string&)> log_;
    std::optional<FtpSession> session_;
    bool remoteBaseChecked_ = false;
    bool remoteUsable_ = true;
    int consecutiveTimeouts_ = 0;
    bool serverGivenUp_ = false;
    std::int32_t filesNotUploaded_ = 0;
    std::string notUploadedReason_;
};
