#include "config/numbers.h"

#include <gtest/gtest.h>

using namespace veltrane;

// clang-format off
TEST(LeadingNumberValue, ReadsTheNumberAtTheStart) {
    struct Case { const char* text; double value; };
    const Case cases[] = {
        {"", 0}, {"abc", 0}, {"-", 0}, {".", 0},
        {"1234", 1234}, {"+001234kg", 1234}, {"-0012.30kg", -12.3},
        {"1 2 3", 123}, {" \t\n12.5", 12.5}, {"12.5.6", 12.5},
        {"1E3", 1000}, {"1D3", 1000}, {"2e-2x", 0.02}, {"1e", 1}, {"1e+", 1},
        {"12/5", 12}, {"--5", 0}, {"1e999", 0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(leadingNumberValue(QString::fromLatin1(c.text)), c.value) << c.text;
}

TEST(NumberText, DoubleAndSingleDigits) {
    const std::pair<double, const char*> doubles[] = {{0, "0"}, {-12.5, "-12.5"}, {125.0, "125"}, {0.1 + 0.2, "0.3"},
        {123456789012345.0, "123456789012345"}, {1e16, "1E+16"}};
    for (const auto& [v, text] : doubles) EXPECT_EQ(numberText(v), QString::fromLatin1(text)) << text;
    const std::pair<float, const char*> singles[] = {
        {12345.67f, "12345.67"}, {123456.78f, "123456.8"}, {12345.6f, "12345.6"}, {9999999.6f, "1E+07"}};
    for (const auto& [v, text] : singles) EXPECT_EQ(numberTextSingle(v), QString::fromLatin1(text)) << text;
}

TEST(NumericText, WholeTextMustBeANumber) {
    for (const char* yes : {"60000", " 60.000 ", "-1.5E+3"}) EXPECT_TRUE(isNumeric(QString::fromLatin1(yes))) << yes;
    for (const char* no : {"", "12kg", "1e", "abc"}) EXPECT_FALSE(isNumeric(QString::fromLatin1(no))) << no;
}
// clang-format on

TEST(RoundHalfEven, TiesGoToEven) {
    EXPECT_EQ(roundHalfEven(2.5, 0), 2.0);
    EXPECT_EQ(roundHalfEven(3.5, 0), 4.0);
    EXPECT_EQ(roundHalfEven(static_cast<double>(1000.04f), 1), 1000.0);
    EXPECT_EQ(roundHalfEven(static_cast<double>(1000.06f), 1), 1000.1);
}
