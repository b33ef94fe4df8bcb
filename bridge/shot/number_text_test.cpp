#include "bridge/shot/number_text.h"

#include <gtest/gtest.h>

#include <cmath>

#include "bridge/shot/rounding.h"

namespace taltrix {
namespace {

TEST(RoundHalfEven, SendsHalvesToTheEvenNeighbour) {
    struct Case {
        double x;
        int decimals;
        double expected;
    };
    const Case cases[] = {
        {16.5, 0, 16},
        {17.5, 0, 18},
        {2.5, 0, 2},
        {3.5, 0, 4},
        {-2.5, 0, -2},
        {-3.5, 0, -4},
        {0.5, 0, 0},
        {17.3, 0, 17},
        {16.51, 0, 17},
        {93 * 1.609, 1, 149.6},
        {131.1 * 1.609, 1, 210.9},
        {110 * 0.9144, 2, 100.58},
        // Written halves count as halves even where binary stores them a hair low or high.
        {2.675, 2, 2.68},
        {2.665, 2, 2.66},
        {1.005, 2, 1.0},
        {0.125, 2, 0.12},
        {0.135, 2, 0.14},
        {-1.4, 1, -1.4},
        {-0.04, 1, 0.0},
        {4217.0, 0, 4217},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(roundHalfEven(c.x, c.decimals), c.expected) << c.x << " to " << c.decimals;
    }
    EXPECT_FALSE(std::signbit(roundHalfEven(-0.4, 0)));
}

TEST(ReadNumber, ReadsSignDigitsAndOnePoint) {
    struct Case {
        const char* text;
        double expected;
    };
    const Case cases[] = {
        {"093.0", 93.0}, {"-01.4", -1.4}, {"+26.2", 26.2}, {"+000.0", 0.0}, {"  12.5", 12.5},
        {"1.2.3", 1.2},  {"-01,4", -1.0}, {"+26,2", 26.0}, {"04217", 4217}, {".5", 0.5},
        {"7lr", 7},      {"+-5", 0},      {"-+5", 0},      {"-.5", -0.5},   {"abc", 0},
        {"", 0},         {"-", 0},        {"+.", 0},       {"12 34", 12},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(readNumber(c.text), c.expected) << '"' << c.text << '"';
}

TEST(IsNumeric, AcceptsOnlyWholeDecimalNumbers) {
    for (const char* yes : {"110", " 110 ", "-5", "+5", "12.5", "0"}) EXPECT_TRUE(isNumeric(yes)) << yes;
    for (const char* no : {"", " ", "abc", "1a", "1.2.3", "-", ".", "1,5", "0x10"}) EXPECT_FALSE(isNumeric(no)) << no;
}

TEST(ToInt32, RefusesWhatDoesNotFit) {
    EXPECT_EQ(toInt32(2147483647.0), 2147483647);
    EXPECT_EQ(toInt32(-2147483648.0), -2147483647 - 1);
    EXPECT_FALSE(toInt32(2147483648.0).has_value());
    EXPECT_FALSE(toInt32(1e300).has_value());
    EXPECT_FALSE(toInt32(std::nan("")).has_value());
}

TEST(Formats, F1PadsToThreeDigitsAndKeepsOneDecimal) {
    EXPECT_EQ(formatF1(131.1), "131.1");
    EXPECT_EQ(formatF1(13), "013.0");
    EXPECT_EQ(formatF1(-4.8), "-004.8");
    EXPECT_EQ(formatF1(-1), "-001.0");
    EXPECT_EQ(formatF1(-13.3), "-013.3");
    EXPECT_EQ(formatF1(0), "000.0");
    EXPECT_EQ(formatF1(-0.04), "000.0");
    EXPECT_EQ(formatF1(1234.5), "1234.5");
    EXPECT_EQ(formatF1(210.95), "211.0");
    EXPECT_EQ(formatF1(9.95), "010.0");
}

TEST(Formats, IntegersArePlain) {
    EXPECT_EQ(formatInteger(4217), "4217");
    EXPECT_EQ(formatInteger(-94), "-94");
    EXPECT_EQ(formatInteger(0), "0");
    EXPECT_EQ(formatWhole(2.5), "2");
    EXPECT_EQ(formatWhole(3.5), "4");
    EXPECT_EQ(formatWhole(-0.4), "0");
    EXPECT_EQ(formatWhole(-12.6), "-13");
}

}  // namespace
}  // namespace taltrix
