#include "util/TimeText.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {
class FixedClock : public Clock {
public:
    FixedClock(int year, int month, int day, int hour, int minute) {
        std::tm local{};
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = 30;
        local.tm_isdst = -1;
        now_ = std::mktime(&local);
    }
    std::time_t Now() const override { return now_; }

private:
    std::time_t now_;
};
}  // namespace

TEST(DateTimeText, PadsMonthDayHourAndMinute) {
    TempHome home;
    EXPECT_EQ(GetDateTimeText(FixedClock(2015, 3, 1, 9, 5)), "2015-03-01 09:05");
}

TEST(DateTimeText, LastMinuteOfTheYear) {
    TempHome home;
    EXPECT_EQ(GetDateTimeText(FixedClock(2015, 12, 31, 23, 59)), "2015-12-31 23:59");
}

TEST(DateTimeText, MidnightOnTheFirstDay) {
    TempHome home;
    const std::string text = GetDateTimeText(FixedClock(2024, 1, 1, 0, 0));
    EXPECT_EQ(text, "2024-01-01 00:00");
    EXPECT_EQ(text.size(), 16u);
}
