#include "config/numbers.h"
#include "config/settings.h"

#include <gtest/gtest.h>

using namespace veltrane;

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
    EXPECT_EQ(numberText(0), QStringLiteral("0"));
    EXPECT_EQ(numberText(-12.5), QStringLiteral("-12.5"));
    EXPECT_EQ(numberText(125.0), QStringLiteral("125"));
    EXPECT_EQ(numberText(0.1 + 0.2), QStringLiteral("0.3"));
    EXPECT_EQ(numberText(123456789012345.0), QStringLiteral("123456789012345"));
    EXPECT_EQ(numberText(1e16), QStringLiteral("1E+16"));
    EXPECT_EQ(numberTextSingle(12345.67f), QStringLiteral("12345.67"));
    EXPECT_EQ(numberTextSingle(123456.78f), QStringLiteral("123456.8"));
    EXPECT_EQ(numberTextSingle(12345.6f), QStringLiteral("12345.6"));
    EXPECT_EQ(numberTextSingle(9999999.6f), QStringLiteral("1E+07"));
}

TEST(NumericText, WholeTextMustBeANumber) {
    EXPECT_TRUE(isNumeric(QStringLiteral("60000")));
    EXPECT_TRUE(isNumeric(QStringLiteral(" 60.000 ")));
    EXPECT_TRUE(isNumeric(QStringLiteral("-1.5E+3")));
    EXPECT_FALSE(isNumeric(QStringLiteral("")));
    EXPECT_FALSE(isNumeric(QStringLiteral("12kg")));
    EXPECT_FALSE(isNumeric(QStringLiteral("1e")));
    EXPECT_FALSE(isNumeric(QStringLiteral("abc")));
}

TEST(RoundHalfEven, TiesGoToEven) {
    EXPECT_EQ(roundHalfEven(2.5, 0), 2.0);
    EXPECT_EQ(roundHalfEven(3.5, 0), 4.0);
    EXPECT_EQ(roundHalfEven(static_cast<double>(1000.04f), 1), 1000.0);
    EXPECT_EQ(roundHalfEven(static_cast<double>(1000.06f), 1), 1000.1);
}

TEST(DerivedValues, DelimiterNamesAndDivisors) {
    EXPECT_EQ(delimiterCodeOf(QStringLiteral("SPACE")), 32);
    EXPECT_EQ(delimiterCodeOf(QStringLiteral("ETX")), 3);
    EXPECT_EQ(delimiterCodeOf(QStringLiteral("cr")), -1);
    EXPECT_EQ(decimalDivisorFor(3), 1000);
    EXPECT_EQ(decimalDivisorFor(0), 1);
    EXPECT_EQ(decimalDivisorFor(9), 1);
    EXPECT_EQ(decimalDivisorFor(8), 100000000);
}
