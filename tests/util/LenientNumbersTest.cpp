#include "util/LenientNumbers.h"

#include <gtest/gtest.h>

#include <string>

TEST(LenientDecimal, NonDigitsCountAsZeroDigitsInTheirPlace) {
    EXPECT_EQ(ParseLenientDecimal("00012"), 12);
    EXPECT_EQ(ParseLenientDecimal("1 2"), 102);
    EXPECT_EQ(ParseLenientDecimal("12a"), 120);
    EXPECT_EQ(ParseLenientDecimal("-5"), 5);
    EXPECT_EQ(ParseLenientDecimal(""), 0);
    EXPECT_EQ(ParseLenientDecimal("2147483647"), 2147483647);
}

TEST(LenientDecimal, WrapsInThirtyTwoBits) {
    // 4294967296 is 2^32, 4294967297 one more.
    EXPECT_EQ(ParseLenientDecimal("4294967296"), 0);
    EXPECT_EQ(ParseLenientDecimal("4294967297"), 1);
    EXPECT_EQ(ParseLenientDecimal("2147483648"), INT32_MIN);
}

TEST(LenientDecimal, LongTextsWrapWithoutFault) {
    // From place 32 on, 10^place is a multiple of 2^32 and adds nothing.
    const std::string tail = "1234";
    EXPECT_EQ(ParseLenientDecimal(std::string(100000, '9') + tail),
              ParseLenientDecimal(std::string(28, '9') + tail));
    EXPECT_EQ(ParseLenientDecimal("7" + std::string(40, '0') + "42"), 42);
}

TEST(LenientHex, OnlyLowerCaseDigitsCount) {
    EXPECT_EQ(ParseLenientHex("0407"), 1031);
    EXPECT_EQ(ParseLenientHex("ff"), 255);
    EXPECT_EQ(ParseLenientHex("FF"), 0);
    EXPECT_EQ(ParseLenientHex("0c0a"), 3082);
    EXPECT_EQ(ParseLenientHex("040C"), 1024);
    EXPECT_EQ(ParseLenientHex("ffffffff"), -1);
    EXPECT_EQ(ParseLenientHex("f" + std::string(9, '0')), 0);
    EXPECT_EQ(ParseLenientHex(std::string(100000, 'f')), -1);
}

TEST(PadLeftZeros, FillsToTheWidthOnly) {
    EXPECT_EQ(PadLeftZeros("5", 2), "05");
    EXPECT_EQ(PadLeftZeros("", 2), "00");
    EXPECT_EQ(PadLeftZeros("123", 2), "123");
    EXPECT_EQ(PadLeftZeros("12", 2), "12");
}

TEST(FormatNumber, PlainDecimal) {
    EXPECT_EQ(FormatNumber(0), "0");
    EXPECT_EQ(FormatNumber(-42), "-42");
    EXPECT_EQ(FormatNumber(INT32_MIN), "-2147483648");
}
