#include "config/numbers.h"

#include <gtest/gtest.h>

using namespace veltrane;

// Qt applications take the C library's locale from the environment; these texts must not follow it. The
// suite runs a second time under a decimal-comma locale (scripts/test.sh), where this shows.
// clang-format off
TEST(Numbers, LeadingNumberValueReadsTheNumberAtTheStart) {
    struct Case { const char* text; double value; };
    const Case cases[] = {
        {"", 0}, {"abc", 0}, {"-", 0}, {".", 0},
        {"1234", 1234}, {"+001234kg", 1234}, {"-0012.30kg", -12.3}, {"0012.50", 12.5},
        {"1 2 3", 123}, {" \t\n12.5", 12.5}, {"12.5.6", 12.5}, {"12,50", 12}, {"1.234,5", 1.234},
        {"1E3", 1000}, {"1D3", 1000}, {"2e-2x", 0.02}, {"1e", 1}, {"1e+", 1},
        {"12/5", 12}, {"--5", 0}, {"1e999", 0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(leadingNumberValue(QString::fromLatin1(c.text)), c.value) << c.text;
}

TEST(Numbers, TextOfDoubleAndSingle) {
    const std::pair<double, const char*> doubles[] = {{0, "0"}, {-12.5, "-12.5"}, {125.0, "125"}, {0.1 + 0.2, "0.3"},
        {12.5, "12.5"}, {1234.0, "1234"}, {1234567.125, "1234567.125"}, {0.00012, "0.00012"}, {-1e-20, "-1E-20"},
        {123456789012345.0, "123456789012345"}, {1e16, "1E+16"}, {-2.5e123, "-2.5E+123"}};
    for (const auto& [v, text] : doubles) EXPECT_EQ(numberText(v).toStdString(), text);
    const std::pair<float, const char*> singles[] = {{12.5f, "12.5"}, {1234.0f, "1234"},
        {12345.67f, "12345.67"}, {123456.78f, "123456.8"}, {12345.6f, "12345.6"}, {9999999.6f, "1E+07"}};
    for (const auto& [v, text] : singles) EXPECT_EQ(numberTextSingle(v).toStdString(), text);
}

TEST(Numbers, NumericTextMustBeANumberAsAWhole) {
    for (const char* yes : {"60000", " 60.000 ", "-1.5E+3", "0012.50"}) EXPECT_TRUE(isNumeric(QString::fromLatin1(yes))) << yes;
    for (const char* no : {"", "12kg", "1e", "abc", "12,5", "1.234,5"}) EXPECT_FALSE(isNumeric(QString::fromLatin1(no))) << no;
    EXPECT_EQ(numericValue(QStringLiteral("0012.50")), 12.5);
}
// clang-format on
