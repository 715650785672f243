#include "sources/FtpListing.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "0644", "644" or "0o644"; -1 when the text is no mode.
int ParseOctalMode(std::string text) {
    if (text.starts_with("0o") || text.starts_with("0O")) text.erase(0, 2);
    if (text.empty() || text.size() > 6 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '7'; }))
        return -1;
    return std::stoi(text, nullptr, 8) & 07777;
}

}  // namespace

std::time_t ParseFtpTimeValue(const std::string& text) {
    if (text.size() < 14 ||
        !std::all_of(text.begin(), text.begin() + 14, [](unsigned char c) { return std::isdigit(c) != 0; }))
        return -1;
    const auto number = [&](std::size_t pos, std::size_t length) {
        return std::stoi(text.substr(pos, length));
    };
    std::tm utc{};
    utc.tm_year = number(0, 4) - 1900;
    utc.tm_mon = number(4, 2) - 1;
    utc.tm_mday = number(6, 2);
    utc.tm_hour = number(8, 2);
    utc.tm_min = number(10, 2);
    utc.tm_sec = number(12, 2);
    if (utc.tm_mon < 0 || utc.tm_mon > 11 || utc.tm_mday < 1 || utc.tm_mday > 31) return -1;
    return timegm(&utc);
}

std::vector<FtpListingEntry> ParseMlsdEntries(const std::string& listing) {
    std::vector<FtpListingEntry> entries;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        std::string line = listing.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // "fact=value;fact=value; name": the first blank ends the facts, the
        // name may hold blanks and ";" of its own.
        const std::size_t blank = line.find(' ');
        if (blank == std::string::npos) continue;
        const std::string facts = line.substr(0, blank);
        FtpListingEntry entry;
        entry.name = line.substr(blank + 1);
        if (entry.name.empty() || entry.name == "." || entry.name == "..") continue;
        bool listedDirectoryItself = false;
        std::size_t factStart = 0;
        while (factStart < facts.size()) {
            std::size_t factEnd = facts.find(';', factStart);
            if (factEnd == std::string::npos) factEnd = facts.size();
            const std::string fact = facts.substr(factStart, factEnd - factStart);
            factStart = factEnd + 1;
            const std::size_t equals = fact.find('=');
            if (equals == std::string::npos) continue;
            const std::string key = Lowercase(fact.substr(0, equals));
            const std::string value = fact.substr(equals + 1);
            if (key == "modify") entry.modified = ParseFtpTimeValue(value);
            if (key == "size") entry.size = std::strtoull(value.c_str(), nullptr, 10);
            if (key == "unix.mode") entry.mode = ParseOctalMode(value);
            if (key == "type") {
                const std::string type = Lowercase(value);
                listedDirectoryItself = type == "cdir" || type == "pdir";
                entry.isDirectory = type == "dir";
                entry.isFile = type == "file";
            }
        }
        if (!listedDirectoryItself) entries.push_back(std::move(entry));
    }
    return entries;
}

std::map<std::string, std::time_t> ParseMlsdListing(const std::string& listing) {
    std::map<std::string, std::time_t> times;
    for (const FtpListingEntry& entry : ParseMlsdEntries(listing))
        if (entry.modified >= 0) times[entry.name] = entry.modified;
    return times;
}

namespace {

// Permission bits of "rwxr-x---" (set-id and sticky letters count as x or -).
int ModeOfLetters(std::string_view letters) {
    int mode = 0;
    for (std::size_t i = 0; i < 9; ++i) {
        const char letter = letters[i];
        const bool set = i % 3 == 2 ? (letter == 'x' || letter == 's' || letter == 't')
                                    : letter == (i % 3 == 0 ? 'r' : 'w');
        mode = (mode << 1) | (set ? 1 : 0);
    }
    return mode;
}

// "Dec", "dec": 1 to 12; 0 for anything else.
int MonthOf(std::string_view name) {
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    if (name.size() != 3) return 0;
    std::string lowered(name);
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (int month = 0; month < 12; ++month)
        if (kMonths[month] == lowered) return month + 1;
    return 0;
}

std::optional<int> NumberOf(std::string_view text) {
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return number;
}

// The earliest moment "Dec 9 18:30", "9 Dec 2020" (and the like) can mean in
// any time zone; -1 when the fields are no such time.
std::time_t EarliestMomentOf(std::string_view first, std::string_view second, std::string_view third,
                             std::time_t now) {
    // The zone furthest ahead of UTC.
    constexpr std::time_t kLatestZoneAhead = 14 * 3600;
    constexpr std::time_t kClockSlack = 24 * 3600;
    int month = MonthOf(first);
    std::optional<int> day = NumberOf(second);
    if (month == 0) {
        month = MonthOf(second);
        day = NumberOf(first);
    }
    if (month == 0 || !day || *day < 1 || *day > 31) return -1;
    std::tm moment{};
    moment.tm_mon = month - 1;
    moment.tm_mday = *day;
    const std::size_t colon = third.find(':');
    std::tm today{};
    gmtime_r(&now, &today);
    if (colon == std::string_view::npos) {
        const auto year = NumberOf(third);
        if (!year || *year < 1970) return -1;
        moment.tm_year = *year - 1900;
    } else {
        const auto hour = NumberOf(third.substr(0, colon));
        const auto minute = NumberOf(third.substr(colon + 1));
        if (!hour || !minute || *hour > 23 || *minute > 59) return -1;
        moment.tm_hour = *hour;
        moment.tm_min = *minute;
        moment.tm_year = today.tm_year;
        if (timegm(&moment) > now + kClockSlack) --moment.tm_year;
    }
    const std::time_t asUtc = timegm(&moment);
    return asUtc < 0 ? -1 : asUtc - kLatestZoneAhead;
}

}  // namespace

std::vector<FtpListingEntry> ParseLongListing(const std::string& listing, std::time_t now) {
    // Type and permissions, links, owner, group, size and three fields of
    // time come before the name.
    constexpr int kFieldsBeforeName = 8;
    constexpr int kSizeField = 4;
    std::vector<FtpListingEntry> entries;
    std::size_t lineStart = 0;
    while (lineStart < listing.size()) {
        std::size_t lineEnd = listing.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = listing.size();
        std::string_view line(listing.data() + lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        std::size_t at = 0;
        std::string_view fields[kFieldsBeforeName];
        int count = 0;
        for (; count < kFieldsBeforeName; ++count) {
            at = line.find_first_not_of(' ', at);
            if (at == std::string_view::npos) break;
            const std::size_t end = std::min(line.find(' ', at), line.size());
            fields[count] = line.substr(at, end - at);
            at = end;
        }
        if (count < kFieldsBeforeName || at + 1 >= line.size() || fields[0].size() < 10) continue;
        FtpListingEntry entry;
        entry.name = std::string(line.substr(at + 1));
        entry.isDirectory = fields[0][0] == 'd';
        entry.isFile = fields[0][0] == '-';
        if ((!entry.isDirectory && !entry.isFile) || entry.name == "." || entry.name == "..") continue;
        entry.mode = ModeOfLetters(fields[0].substr(1, 9));
        const std::string_view size = fields[kSizeField];
        if (std::from_chars(size.data(), size.data() + size.size(), entry.size).ec != std::errc()) continue;
        entry.modifiedAtLeast = EarliestMomentOf(fields[5], fields[6], fields[7], now);
        entries.push_back(std::move(entry));
    }
    return entries;
}
