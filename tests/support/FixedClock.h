#pragma once

#include "util/TimeText.h"

#include <ctime>

// Seconds since 1970 of a local calendar time.
inline std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second = 0) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// A clock the test sets; nothing in a test waits for real time.
class FixedClock : public Clock {
public:
    FixedClock() = default;
    FixedClock(int year, int month, int day, int hour, int minute, int second = 0)
        : now(LocalTime(year, month, day, hour, minute, second)) {}
    std::time_t Now() const override { return now; }
    void Set(int year, int month, int day, int hour, int minute, int second = 0) {
        now = LocalTime(year, month, day, hour, minute, second);
    }
    std::time_t now = 0;
};
