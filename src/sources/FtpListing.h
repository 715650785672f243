#pragma once

#include <ctime>
#include <map>
#include <string>

// Modification times (seconds since 1970, UTC) by entry name, from a
// machine-readable listing (MLSD, RFC 3659). Entries without a "modify" fact,
// and the "." and ".." entries, are left out.
std::map<std::string, std::time_t> ParseMlsdListing(const std::string& listing);

// "YYYYMMDDHHMMSS[.sss]" in UTC; nullopt-like -1 when the text is not a time.
std::time_t ParseFtpTimeValue(const std::string& text);
