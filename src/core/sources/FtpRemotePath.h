#pragma once

#include <string>
#include <vector>

// Remote paths as the FTP server sees them: "/" separated, absolute when they
// start with "/", otherwise relative to the login directory.
namespace ftp_path {

// Collapses repeated "/" and drops a trailing one; keeps a leading "/" (so "/"
// stays "/").
std::string NormaliseDirectory(const std::string& directory);

// Every level of a normalised directory, shortest first: "a/b/c" gives "a",
// "a/b", "a/b/c"; "/x/y" gives "/x", "/x/y". Empty and "/" give none.
std::vector<std::string> DirectoryLevels(const std::string& normalisedDirectory);

// The path of a file inside a normalised directory ("" is the login directory).
std::string Join(const std::string& normalisedDirectory, const std::string& name);

// The text after the last "/" of a local path (the whole path without one).
std::string FileNameOf(const std::string& localPath);

// Line breaks and NUL would end an FTP command early and let the rest of a name
// run as a command of its own.
bool IsSafeInCommand(const std::string& text);

// The path as the part of an ftp:// URL after "host:port/": every byte but
// unreserved characters percent-encoded, segments kept apart by "/"; a leading
// "/" (absolute path) becomes "%2F".
std::string EncodeForUrl(const std::string& path);

// The path as the part of an sftp:// URL after "host:port/": a relative path
// goes below "~/" (the login directory), an absolute one stays absolute.
std::string EncodeForSftpUrl(const std::string& path);

// The path as an argument of an SFTP command: in double quotes with quotes and
// backslashes escaped, so blanks stay in it. A relative path stays relative:
// the server takes it from the login directory (the library's "/~/" is not
// expanded inside quotes).
std::string SftpCommandArgument(const std::string& path);

}  // namespace ftp_path
