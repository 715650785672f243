#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

// One entry of a machine-readable listing (MLSD, RFC 3659).
struct FtpListingEntry {
    std::string name;
    bool isDirectory = false;  // "dir" (never the listed directory itself)
    bool isFile = false;       // "file"
    std::uint64_t size = 0;
    std::time_t modified = -1;  // -1 without a "modify" fact
    int mode = -1;              // permission bits of "unix.mode"; -1 without it
    // A time the entry is certainly not older than, from a listing whose time
    // is in the server's own zone; -1 when the listing's time cannot be read.
    std::time_t modifiedAtLeast = -1;
};

// Every entry of the listing but "." and ".." and the "cdir" and "pdir" lines.
std::vector<FtpListingEntry> ParseMlsdEntries(const std::string& listing);

// The entries of an SFTP directory listing in the "ls -l" form servers give
// ("-rw-r--r-- 1 owner group 6 Dec  9 18:30 name"): type, permission bits,
// size and name. Such a time is in the server's zone and may lack its year
// (then the latest one not after now is meant) or its hour: modified stays -1
// and modifiedAtLeast holds the earliest moment it can stand for. Links and
// lines of other forms are left out.
std::vector<FtpListingEntry> ParseLongListing(const std::string& listing, std::time_t now);

// Modification times (seconds since 1970, UTC) by entry name, from a
// machine-readable listing (MLSD, RFC 3659). Entries without a "modify" fact,
// and the "." and ".." entries, are left out.
std::map<std::string, std::time_t> ParseMlsdListing(const std::string& listing);

// "YYYYMMDDHHMMSS[.sss]" in UTC; nullopt-like -1 when the text is not a time.
std::time_t ParseFtpTimeValue(const std::string& text);
