#include "util/TimeText.h"

#include "support/FixedClock.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

TEST(DateTimeText, PadsMonthDayHourAndMinute) {
    TempHome home;
    EXPECT_EQ(GetDateTimeText(FixedClock(2015, 3, 1, 9, 5, 30)), "2015-03-01 09:05");
}

TEST(DateTimeText, LastMinuteOfTheYear) {
    TempHome home;
    EXPECT_EQ(GetDateTimeText(FixedClock(2015, 12, 31, 23, 59, 30)), "2015-12-31 23:59");
}

TEST(DateTimeText, MidnightOnTheFirstDay) {
    TempHome home;
    const std::string text = GetDateTimeText(FixedClock(2024, 1, 1, 0, 0, 30));
    EXPECT_EQ(text, "2024-01-01 00:00");
    EXPECT_EQ(text.size(), 16u);
}
