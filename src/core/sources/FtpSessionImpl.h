#pragma once

#include "sources/FtpConnection.h"
#include "sources/FtpServerAddress.h"
#include "sources/FtpTransfer.h"

#include <sys/types.h>

#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The commands that make, remove and rename remote files, in the words of the
// protocol (FTP or SFTP).
struct RemoteCommands {
    bool sftp = false;
    std::string MakeDirectory(const std::string& path) const;
    std::string Delete(const std::string& path) const;
    // Puts the file at from in place of to.
    std::vector<std::string> Rename(const std::string& from, const std::string& to) const;
    std::string KeepMode(mode_t permissions, const std::string& path) const;
};

// What a session knows besides its connection: remote directories known to
// exist and directory listings already fetched, both valid for one server and
// login, so a run does not ask the same question for every file.
struct FtpSession::Impl {
    Impl(TransferReporter* reporter, std::function<void()> pump, FtpTimeouts timeouts);

    // Checks the texts and points the connection at the server; false (with
    // lastError set) when they cannot be used.
    bool Begin(const std::string& server, const std::string& user, const std::string& password,
               const std::vector<const std::string*>& remoteTexts);

    bool UploadFile(const std::string& localPath, const std::string& remoteDirectory, LocalLinks links);
    bool EnsureDirectory(const std::string& remoteDirectory);
    bool DownloadFile(const std::string& localFolder, const std::string& remoteDirectory,
                      const std::string& remoteFileName);
    FtpListOutcome ListFiles(const std::string& remoteDirectory, bool recursive,
                             std::vector<FtpRemoteFile>& files);
    // The modification time of a remote file, nullopt when there is none or
    // the server could not tell. Over SFTP, a time the listing proves the file
    // is not older than is given instead when enough says it is enough, which
    // saves asking for each file.
    std::optional<std::time_t> RemoteModificationTime(const std::string& remoteDirectory,
                                                      const std::string& name,
                                                      const std::function<bool(std::time_t)>& enough = {});

    // Known to exist from now on, with every level above it.
    void RememberDirectory(const std::string& directory);

    FtpConnection connection;
    RemoteProtocol protocol = RemoteProtocol::Ftp;
    std::string settingsFolder;
    std::string lastError;
    bool lastTimedOut = false;
    std::uint64_t lastStoredSize = 0;
    bool busy = false;

private:
    // Whether a directory shows in its parent's listing (nullopt: cannot tell),
    // for servers that answer the listing of a missing directory as one of a
    // command they do not know.
    std::optional<bool> ListedInParent(const std::string& directory);
    std::vector<std::string> MakeDirectoryCommands(const std::string& directory) const;
    void ForgetDirectory(const std::string& directory);
    void NoteStored(const std::string& directory, const std::string& name);
    FtpReply ReplaceWithUploadedCopy(const std::string& partPath, const std::string& finalPath);
    bool Stored(const std::string& directory, const std::string& name, std::uint64_t size);
    bool Failed(const FtpReply& reply, const std::string& directory);
    bool SftpModificationTime(const std::string& remotePath, std::time_t& modified);

    RemoteCommands commands_;

    std::set<std::string> knownDirectories_;
    // Times by file name for each directory listed: from MLSD, or for SFTP
    // the earliest time each file can have (-1: cannot tell).
    std::map<std::string, std::map<std::string, std::time_t>> listings_;
    bool listingUnsupported_ = false;
    // The account may store but not rename: uploads go straight to their
    // final names.
    bool renameRefused_ = false;
};
