#include "engine/MinuteCount.h"

#include "sources/FtpTransfer.h"
#include "util/LenientNumbers.h"

namespace {
std::int32_t Part(std::string_view text, std::size_t position, std::size_t length) {
    if (position >= text.size()) return 0;
    return ParseLenientDecimal(text.substr(position, length));
}
}  // namespace

std::int64_t MinuteCount(std::string_view timeText) {
    // The same day count as the FTP date comparison: days since 2000, every
    // year divisible by 4 a leap year.
    const std::int64_t days = DayNumber(Part(timeText, 0, 4), Part(timeText, 5, 2), Part(timeText, 8, 2));
    return days * 1440 + std::int64_t{Part(timeText, 11, 2)} * 60 + Part(timeText, 14, 2);
}
