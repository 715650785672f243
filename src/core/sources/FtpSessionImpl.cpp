#include "sources/FtpSessionImpl.h"

#include "sources/FtpListing.h"
#include "sources/FtpRemotePath.h"
#include "sources/KnownServers.h"
#include "sources/SftpHostKeys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Uploads go to this name first and are renamed over the old copy only once
// complete, so a broken transfer never leaves a truncated backup behind.
constexpr char kPartSuffix[] = ".tarnwick-part";
constexpr std::size_t kLongestRemoteName = 255;

// Reply codes by which a server says it does not know a command.
bool IsUnknownCommandReply(long code) {
    return code == 500 || code == 501 || code == 502 || code == 504;
}

class LocalFile {
public:
    LocalFile() = default;
    ~LocalFile() {
        if (fd_ >= 0) close(fd_);
    }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    // Opens a regular file for reading; a folder, a pipe or a device is refused
    // (a pipe would block the window until someone writes to it), and so is a
    // link unless links may be followed.
    bool OpenForReading(const std::string& path, LocalLinks links, std::string& error) {
        const int noFollow = links == LocalLinks::Refuse ? O_NOFOLLOW : 0;
        fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | noFollow);
        struct stat status {};
        if (fd_ < 0 && errno == ELOOP && noFollow != 0) {
            error = "\"" + path + "\" is a link, which is not followed";
            return false;
        }
        if (fd_ < 0 || fstat(fd_, &status) != 0) {
            error = "cannot open \"" + path + "\": " + std::strerror(errno);
            return false;
        }
        if (!S_ISREG(status.st_mode)) {
            error = "\"" + path + "\" is not a file";
            return false;
        }
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        size_ = static_cast<std::uint64_t>(status.st_size);
        permissions_ = status.st_mode & 0777;
        return true;
    }

    // Back to the first byte, for a second transfer of the same file.
    bool Rewind() { return lseek(fd_, 0, SEEK_SET) == 0; }

    bool CreateForWriting(const std::string& path, std::string& error) {
        // Private until the caller gives it the mode it should have: the data
        // may be anyone's.
        fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) error = "cannot write \"" + path + "\": " + std::strerror(errno);
        return fd_ >= 0;
    }

    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }

    int fd() const { return fd_; }
    std::uint64_t size() const { return size_; }
    // The permission bits, without set-id and sticky bits.
    mode_t permissions() const { return permissions_; }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    mode_t permissions_ = 0;
};

// Stores the file straight under its final name: no rename, but no atomic
// replacement either.
FtpReply StoreUnderFinalName(FtpConnection& connection, const RemoteCommands& commands, LocalFile& file,
                             const std::string& localPath, const std::string& finalPath,
                             const std::vector<std::string>& before) {
    return connection.Upload(file.fd(), file.size(), finalPath, before,
                             {commands.KeepMode(file.permissions(), finalPath)}, localPath);
}

}  // namespace

// Commands start with "*" where a failure is expected or harmless.
std::string RemoteCommands::MakeDirectory(const std::string& path) const {
    return sftp ? "*mkdir " + ftp_path::SftpCommandArgument(path) : "*MKD " + path;
}

std::string RemoteCommands::Delete(const std::string& path) const {
    return sftp ? "*rm " + ftp_path::SftpCommandArgument(path) : "*DELE " + path;
}

std::vector<std::string> RemoteCommands::Rename(const std::string& from, const std::string& to) const {
    // SFTP servers do not rename over an existing file: it goes first.
    if (sftp)
        return {Delete(to),
                "rename " + ftp_path::SftpCommandArgument(from) + " " + ftp_path::SftpCommandArgument(to)};
    return {"RNFR " + from, "RNTO " + to};
}

// A server that does not know the command, or refuses it, still keeps the file.
std::string RemoteCommands::KeepMode(mode_t permissions, const std::string& path) const {
    char octal[8];
    std::snprintf(octal, sizeof octal, "%03o", static_cast<unsigned>(permissions));
    if (sftp) return "*chmod 0" + std::string(octal) + " " + ftp_path::SftpCommandArgument(path);
    return "*SITE CHMOD " + std::string(octal) + " " + path;
}

FtpSession::Impl::Impl(TransferReporter* reporter, std::function<void()> pump, FtpTimeouts timeouts)
    : connection(reporter, std::move(pump), timeouts) {}

bool FtpSession::Impl::Begin(const std::string& server, const std::string& user, const std::string& password,
                             const std::vector<const std::string*>& remoteTexts) {
    const auto address = ParseFtpServer(server, lastError, DefaultPort(protocol));
    if (!address) return false;
    if (!ftp_path::IsSafeInCommand(user) || !ftp_path::IsSafeInCommand(password)) {
        lastError = "the user name or password holds a line break";
        return false;
    }
    for (const std::string* text : remoteTexts) {
        if (!ftp_path::IsSafeInCommand(*text)) {
            lastError = "the remote name \"" + *text + "\" holds a line break";
            return false;
        }
    }
    ConnectionSecurity security{protocol, std::nullopt, {}, {}};
    if (protocol == RemoteProtocol::FtpTls && !settingsFolder.empty())
        security.trusted = KnownServers(settingsFolder).Find(address->HostAndPort());
    if (protocol == RemoteProtocol::Sftp) {
        security.settingsFolder = settingsFolder;
        security.userKnownHosts = SftpKnownHosts::UserKnownHostsFile();
    }
    commands_.sftp = protocol == RemoteProtocol::Sftp;
    connection.UseSecurity(security);
    if (connection.Target(*address, FtpLogin{user, password})) {
        knownDirectories_.clear();
        listings_.clear();
        listingUnsupported_ = false;
        renameRefused_ = false;
    }
    return true;
}

std::vector<std::string> FtpSession::Impl::MakeDirectoryCommands(const std::string& directory) const {
    std::vector<std::string> commands;
    if (knownDirectories_.count(directory) != 0) return commands;
    // One MKD per missing level, each resolved against the login directory;
    // "already exists" answers are expected and ignored.
    for (const auto& level : ftp_path::DirectoryLevels(directory))
        if (knownDirectories_.count(level) == 0) commands.push_back(commands_.MakeDirectory(level));
    return commands;
}

void FtpSession::Impl::RememberDirectory(const std::string& directory) {
    for (const auto& level : ftp_path::DirectoryLevels(directory)) knownDirectories_.insert(level);
}

void FtpSession::Impl::ForgetDirectory(const std::string& directory) {
    for (const auto& level : ftp_path::DirectoryLevels(directory)) knownDirectories_.erase(level);
}

void FtpSession::Impl::NoteStored(const std::string& directory, const std::string& name) {
    const auto listing = listings_.find(directory);
    if (listing != listings_.end()) listing->second[name] = std::time(nullptr);
}

bool FtpSession::Impl::UploadFile(const std::string& localPath, const std::string& remoteDirectory,
                                  LocalLinks links) {
    const std::string name = ftp_path::FileNameOf(localPath);
    const std::string directory = ftp_path::NormaliseDirectory(remoteDirectory);
    const std::vector<std::string> makeDirectories = MakeDirectoryCommands(directory);

    LocalFile file;
    if (name.empty()) {
        lastError = "\"" + localPath + "\" names no file";
        return false;
    }
    if (!file.OpenForReading(localPath, links, lastError)) {
        // The folder is still made, as it would be for a file that can be read.
        if (!makeDirectories.empty() && connection.SendCommands(makeDirectories).ok)
            RememberDirectory(directory);
        return false;
    }
    connection.Pump();

    const std::string finalPath = ftp_path::Join(directory, name);
    const bool viaPartFile = !renameRefused_ && name.size() + sizeof(kPartSuffix) - 1 <= kLongestRemoteName;
    if (!viaPartFile) {
        const FtpReply direct =
            StoreUnderFinalName(connection, commands_, file, localPath, finalPath, makeDirectories);
        return direct.ok ? Stored(directory, name, file.size()) : Failed(direct, directory);
    }

    const std::string partPath = finalPath + kPartSuffix;
    // The mode is set before the rename, so the final name never holds the
    // data with more permissions than the source.
    std::vector<std::string> modeAndRename = commands_.Rename(partPath, finalPath);
    modeAndRename.insert(modeAndRename.begin(), commands_.KeepMode(file.permissions(), partPath));
    const FtpReply reply =
        connection.Upload(file.fd(), file.size(), partPath, makeDirectories, modeAndRename, localPath);
    if (reply.ok) return Stored(directory, name, file.size());
    if (reply.code != CURLE_QUOTE_ERROR) {
        // The server refused the data (quota, permissions): take away what it
        // may have kept of it. A broken connection leaves the part file behind.
        const bool refused = reply.code == CURLE_UPLOAD_FAILED;
        Failed(reply, directory);
        if (refused) connection.SendCommands({commands_.Delete(partPath)});
        return false;
    }
    // Only the rename after a complete transfer fails with a quote error.
    RememberDirectory(directory);
    const FtpReply renamed = ReplaceWithUploadedCopy(partPath, finalPath);
    if (renamed.ok) return Stored(directory, name, file.size());
    // An account that may store but not rename: the data goes under its final
    // name, and the part file goes if the server lets us delete it.
    connection.SendCommands({commands_.Delete(partPath)});
    if (!file.Rewind()) {
        lastError = "cannot read \"" + localPath + "\" again: " + std::strerror(errno);
        return false;
    }
    const FtpReply direct = StoreUnderFinalName(connection, commands_, file, localPath, finalPath, {});
    if (!direct.ok) {
        Failed(direct, directory);
        lastError = renamed.problem + "; " + direct.problem;
        return false;
    }
    renameRefused_ = true;
    return Stored(directory, name, file.size());
}

bool FtpSession::Impl::Stored(const std::string& directory, const std::string& name, std::uint64_t size) {
    RememberDirectory(directory);
    NoteStored(directory, name);
    lastStoredSize = size;
    connection.Pump();
    return true;
}

bool FtpSession::Impl::Failed(const FtpReply& reply, const std::string& directory) {
    ForgetDirectory(directory);
    lastError = reply.problem;
    lastTimedOut = reply.TimedOut();
    return false;
}

FtpReply FtpSession::Impl::ReplaceWithUploadedCopy(const std::string& partPath,
                                                   const std::string& finalPath) {
    // Some servers do not rename over an existing file: remove it first.
    std::vector<std::string> commands = commands_.Rename(partPath, finalPath);
    commands.insert(commands.begin(), commands_.Delete(finalPath));
    return connection.SendCommands(commands);
}

bool FtpSession::Impl::EnsureDirectory(const std::string& remoteDirectory) {
    const std::string directory = ftp_path::NormaliseDirectory(remoteDirectory);
    const std::vector<std::string> commands = MakeDirectoryCommands(directory);
    if (commands.empty()) return true;
    const FtpReply reply = connection.SendCommands(commands);
    if (!reply.ok) {
        lastError = reply.problem;
        lastTimedOut = reply.TimedOut();
        return false;
    }
    RememberDirectory(directory);
    return true;
}

bool FtpSession::Impl::DownloadFile(const std::string& localFolder, const std::string& remoteDirectory,
                                    const std::string& remoteFileName) {
    const std::string target = localFolder + "/" + remoteFileName;
    // Fetched beside the target and renamed over it when complete, so a failed
    // fetch leaves an existing local file as it was.
    const std::string part = target + kPartSuffix;
    LocalFile file;
    if (!file.CreateForWriting(part, lastError)) return false;
    const FtpReply reply = connection.Download(
        ftp_path::Join(ftp_path::NormaliseDirectory(remoteDirectory), remoteFileName), file.fd());
    const bool closed = file.Close();
    if (reply.ok && closed && std::rename(part.c_str(), target.c_str()) == 0) return true;
    lastError = !reply.ok ? reply.problem : "cannot write \"" + target + "\": " + std::strerror(errno);
    unlink(part.c_str());
    return false;
}

std::optional<bool> FtpSession::Impl::ListedInParent(const std::string& directory) {
    const std::vector<std::string> levels = ftp_path::DirectoryLevels(directory);
    if (levels.empty()) return std::nullopt;
    const std::string parent = levels.size() > 1            ? levels[levels.size() - 2]
                               : directory.starts_with('/') ? "/"
                                                            : "";
    const std::string name = ftp_path::FileNameOf(directory);
    std::string text;
    if (!connection.ListDirectory(parent, text).ok)
        return levels.size() > 1 && ListedInParent(parent) == false ? std::optional<bool>(false)
                                                                    : std::nullopt;
    for (const FtpListingEntry& entry : ParseMlsdEntries(text))
        if (entry.isDirectory && entry.name == name) return true;
    return false;
}

FtpListOutcome FtpSession::Impl::ListFiles(const std::string& remoteDirectory, bool recursive,
                                           std::vector<FtpRemoteFile>& files) {
    const std::string top = ftp_path::NormaliseDirectory(remoteDirectory);
    // Servers that know the fact list the permission bits too.
    if (!commands_.sftp) connection.SendCommands({"*OPTS MLST type;size;modify;unix.mode;"});
    // Relative paths ("" or "/sub") of the directories still to list.
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        const std::string relative = pending.back();
        pending.pop_back();
        std::string text;
        const FtpReply reply =
            connection.ListDirectory(relative.empty() ? top : ftp_path::Join(top, relative.substr(1)), text);
        if (!reply.ok) {
            if (relative.empty() && commands_.sftp && reply.code == CURLE_REMOTE_FILE_NOT_FOUND)
                return FtpListOutcome::Missing;
            if (relative.empty() && !commands_.sftp &&
                (reply.serverCode == 550 || reply.serverCode == 450 ||
                 (IsUnknownCommandReply(reply.serverCode) && ListedInParent(top) == false)))
                return FtpListOutcome::Missing;
            lastError = IsUnknownCommandReply(reply.serverCode)
                            ? "the server offers no machine-readable listings (MLSD)"
                            : reply.problem;
            lastTimedOut = reply.TimedOut();
            return FtpListOutcome::Failed;
        }
        for (FtpListingEntry& entry :
             commands_.sftp ? ParseLongListing(text, std::time(nullptr)) : ParseMlsdEntries(text)) {
            const std::string path = relative + "/" + entry.name;
            if (entry.isDirectory && recursive) pending.push_back(path);
            if (!entry.isFile || entry.name.ends_with(kPartSuffix)) continue;
            // The listing's time is in the server's own words: each file's
            // time is asked for in seconds since 1970.
            if (commands_.sftp && !SftpModificationTime(ftp_path::Join(top, path.substr(1)), entry.modified))
                return FtpListOutcome::Failed;
            files.push_back({path, entry.size, entry.modified, entry.mode});
        }
        connection.Pump();
    }
    return FtpListOutcome::Listed;
}

std::optional<std::time_t> FtpSession::Impl::RemoteModificationTime(
    const std::string& remoteDirectory, const std::string& name,
    const std::function<bool(std::time_t)>& enough) {
    const std::string directory = ftp_path::NormaliseDirectory(remoteDirectory);
    if (commands_.sftp) {
        auto listing = listings_.find(directory);
        if (listing == listings_.end()) {
            std::string text;
            const FtpReply reply = connection.ListDirectory(directory, text);
            std::map<std::string, std::time_t> times;
            if (reply.ok) {
                for (const FtpListingEntry& entry : ParseLongListing(text, std::time(nullptr)))
                    if (entry.isFile) times[entry.name] = entry.modifiedAtLeast;
                RememberDirectory(directory);
            } else if (reply.code != CURLE_REMOTE_FILE_NOT_FOUND) {
                lastError = reply.problem;
                return std::nullopt;
            }
            // A directory that is not there yet holds nothing newer.
            listing = listings_.emplace(directory, std::move(times)).first;
        }
        const auto entry = listing->second.find(name);
        if (entry == listing->second.end()) return std::nullopt;
        if (entry->second >= 0 && enough && enough(entry->second)) return entry->second;
        std::time_t modified = 0;
        if (!connection.ModificationTime(ftp_path::Join(directory, name), modified).ok) return std::nullopt;
        return modified;
    }
    if (!listingUnsupported_) {
        auto listing = listings_.find(directory);
        if (listing == listings_.end()) {
            std::string text;
            const FtpReply reply = connection.ListDirectory(directory, text);
            if (reply.ok) {
                listing = listings_.emplace(directory, ParseMlsdListing(text)).first;
                RememberDirectory(directory);
            } else if (reply.serverCode == 550 || reply.serverCode == 450) {
                // No such directory yet: nothing in it can be newer.
                listing = listings_.emplace(directory, std::map<std::string, std::time_t>{}).first;
            } else if (IsUnknownCommandReply(reply.serverCode)) {
                listingUnsupported_ = true;
            } else {
                lastError = reply.problem;
                return std::nullopt;
            }
        }
        if (!listingUnsupported_) {
            const auto entry = listing->second.find(name);
            if (entry == listing->second.end()) return std::nullopt;
            return entry->second;
        }
    }
    std::time_t modified = 0;
    const FtpReply reply = connection.ModificationTime(ftp_path::Join(directory, name), modified);
    if (!reply.ok) return std::nullopt;
    return modified;
}

bool FtpSession::Impl::SftpModificationTime(const std::string& remotePath, std::time_t& modified) {
    const FtpReply reply = connection.ModificationTime(remotePath, modified);
    if (reply.ok) return true;
    lastError = reply.problem;
    lastTimedOut = reply.TimedOut();
    return false;
}
