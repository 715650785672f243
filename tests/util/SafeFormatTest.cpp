#include "util/SafeFormat.h"

#include <gtest/gtest.h>

TEST(FormatText, FillsTheFirstMatchingConversion) {
    EXPECT_EQ(FormatText("Copied %d files", std::int64_t{12}), "Copied 12 files");
    EXPECT_EQ(FormatText("Cannot open %s.", "a b.txt"), "Cannot open a b.txt.");
    EXPECT_EQ(FormatText("100%% of %d", std::int64_t{-3}), "100% of -3");
}

TEST(FormatText, WrongOrExtraConversionsStayAsText) {
    EXPECT_EQ(FormatText("%s and %d", std::int64_t{7}), "%s and 7");
    EXPECT_EQ(FormatText("%d then %d", std::int64_t{1}), "1 then %d");
    EXPECT_EQ(FormatText("%s %s %n %x", "x"), "x %s %n %x");
    EXPECT_EQ(FormatText("%d", "text"), "%d");
    EXPECT_EQ(FormatText("%5d%", std::int64_t{1}), "%5d%");
    EXPECT_EQ(FormatText("end %", "x"), "end %");
    EXPECT_EQ(FormatText("", "x"), "");
}

TEST(FormatText, ArgumentTextIsNotReadAsATemplate) {
    EXPECT_EQ(FormatText("[%s] %s", "%s%d%%"), "[%s%d%%] %s");
}
