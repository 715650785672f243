#include "engine/MinuteCount.h"

#include "util/LenientNumbers.h"

namespace {
std::int64_t Part(std::string_view text, std::size_t position, std::size_t length) {
    if (position >= text.size()) return 0;
    return ParseLenientDecimal(text.substr(position, length));
}

std::int64_t DaysInMonth(std::int64_t month, std::int64_t year) {
    switch (month) {
        case 1: case 3: case 5: case 7: case 8: case 10: case 12: return 31;
        case 4: case 6: case 9: case 11: return 30;
        case 2: return year % 4 == 0 ? 29 : 28;
        default: return 0;
    }
}
}  // namespace

std::int64_t MinuteCount(std::string_view timeText) {
    const std::int64_t year = Part(timeText, 0, 4);
    const std::int64_t month = Part(timeText, 5, 2);
    const std::int64_t day = Part(timeText, 8, 2);
    const std::int64_t hour = Part(timeText, 11, 2);
    const std::int64_t minute = Part(timeText, 14, 2);

    std::int64_t days = 0;
    for (std::int64_t y = 2000; y < year; ++y) days += y % 4 == 0 ? 366 : 365;
    for (std::int64_t m = 1; m < month; ++m) days += DaysInMonth(m, year);
    days += day;
    return days * 1440 + hour * 60 + minute;
}
