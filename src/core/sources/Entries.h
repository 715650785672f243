#pragma once

#include "sources/RemoteProtocol.h"
#include "storage/BackupSetup.h"

#include <string>
#include <string_view>

// Entry texts: a file path; a folder "<path>/..."; an exception "-" + either.
bool IsExceptionEntry(std::string_view entry);
bool IsFolderEntry(std::string_view entry);          // ends in "..."
std::string FolderEntry(std::string_view folder);    // "<folder>/..."
std::string ExceptionEntry(std::string_view entry);  // "-" + entry

// Destinations: "<folder>/..." or "ftp://host/...@!@user@!@password@!@folder";
// FTP with TLS and SFTP have the same fields after "ftps://" and "sftp://"
// (SFTP ignores the passive-mode field).
// A remote destination in passive mode carries one more field after the
// server, "ftp://host/...@!@passive@!@user@!@password@!@folder": texts written
// before passive mode existed never hold it and keep active mode, and a reader
// that takes the last three fields from the end still finds the login there.
bool IsRemoteDestination(std::string_view destination);  // starts "ftp:", "ftps:" or "sftp:"
// The older name of IsRemoteDestination, for callers not yet moved over.
inline bool IsFtpDestination(std::string_view destination) {
    return IsRemoteDestination(destination);
}
std::string LocalDestination(std::string_view folder);
// passive adds the passive-mode field; without it the text is the one every
// earlier version wrote.
std::string FtpDestination(std::string_view server, std::string_view user, std::string_view password,
                           std::string_view folder, bool passive = false);

struct FtpParameters {
    RemoteProtocol protocol = RemoteProtocol::Ftp;
    std::string server;  // without "ftp://", "ftps://" or "sftp://"
    std::string user;
    std::string password;
    std::string folder;
    std::string remoteBaseDirectory;  // folder + "/tarnwick_backup_folder"
    bool passive = false;             // the client opens the data connections (PASV/EPSV)
};
FtpParameters DecodeFtpDestination(std::string_view destination);

// Display form of long texts: ShortenPath with 80 and 15.
std::string BrokenDownForm(std::string_view text);
// What the destination box shows: FTP without user and password; a local
// destination broken down when breakDown is true.
std::string DestinationBoxText(std::string_view destination, bool breakDown);

// The rows of the entry list as a window shows them.
class EntryListView {
public:
    virtual ~EntryListView() = default;
    virtual void AppendRow(const std::string& text) = 0;
};

// Appends the entry to the set-up and a row (broken down while the set-up's
// switch is on) to the view.
void AppendEntry(BackupSetup& setup, EntryListView& view, const std::string& entry);
