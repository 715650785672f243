#pragma once

#include <ctime>
#include <string>

// Source of the current time, injectable so tests can fix the clock.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::time_t Now() const = 0;
};

const Clock& SystemClock();

// "YYYY-MM-DD HH:MM" in local time (16 characters for years 1000-9999).
std::string GetDateTimeText(const Clock& clock = SystemClock());
