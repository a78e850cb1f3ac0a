#include "wizard/protocol_rules.h"

#include <gtest/gtest.h>

using namespace veltrane;

namespace {
QString q(const char* s) {
    return QString::fromLatin1(s);
}
}  // namespace

// The port: one to twenty in digits only. The sample weight: empty, then its value, then whole digits.
TEST(WizardAnswers, RefusalsAndTheirMessages) {
    struct Case {
        std::optional<QString> (*check)(const QString&);
        const char* answer;
        const char* message;
    };
    const char* between = "Com port number must be between 1 to 20!";
    const char* betwen = "Com port number must be betwen 1 to 20!";
    const char* notAbove = "Weight must be greater than zero!";
    const auto port = &checkPortAnswer;
    const auto sample = &checkSampleWeight;
    const Case cases[] = {
        // clang-format off
        {port, "7", nullptr}, {port, "07", nullptr}, {port, "20", nullptr}, {port, " 7 ", nullptr},
        {port, "21", between}, {port, "0", between}, {port, "", between}, {port, "2.5", between},
        {port, "a7", between}, {port, "100", between}, {port, "7a", betwen}, {port, "+7", betwen},
        {port, "7.", betwen},
        {sample, "", "Weight must be numeric!"}, {sample, "abc", notAbove}, {sample, "0", notAbove},
        {sample, "-5", notAbove}, {sample, "12kg", "Weight must be totally numeric!"}, {sample, "1234", nullptr},
        {sample, "12.5", nullptr},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.check(q(c.answer)).value_or(q("<accepted>")), q(c.message ? c.message : "<accepted>"))
            << c.answer;
    }
}

TEST(CapacityAnswer, GivesDescriptionAndMinimumSampleWeight) {
    struct Case {
        const char* answer;
        const char* description;
        const char* minimum;
    };
    const Case accepted[] = {
        {"60000", " ( with 5 digits) ", "10000"},
        {"150", " ( with 3 digits) ", "100"},
        {"60.000", " ( with 2 digits and 3 decimals.) ", "10.001"},
        {"6.5", " ( with 1 digits and 1 decimals.) ", "1.1"},
    };
    for (const auto& c : accepted) {
        const auto capacity = capacityOf(q(c.answer));
        ASSERT_TRUE(capacity) << c.answer;
        EXPECT_EQ(capacity->description, q(c.description)) << c.answer;
        EXPECT_EQ(capacity->minimumWeight, q(c.minimum)) << c.answer;
    }
    for (const char* refused : {"99", "60.", "", "60 t", "abc"})
        EXPECT_FALSE(capacityOf(q(refused))) << refused;
}

TEST(MatchTest, DirectBeforeReversedAndOnlyBelowTheLimit) {
    struct Case {
        const char* record;
        const char* weight;
        int start;
        bool reversed;
    };
    const Case matches[] = {
        {"ST,GS,+001234kg", "1234", 10, false},
        {"4321", "1234", 1, true},
        {"G 1234 T 0500 N 0734 kg", "0734", 17, false},
        {"G 1234 T 0500 N 0734 kg", "1234", 3, false},
        {"4321 1234", "1234", 6, false},  // a direct occurrence wins over an earlier reversed one
    };
    for (const auto& c : matches) {
        const auto m = matchRecord(QByteArray(c.record), QByteArray(c.weight));
        ASSERT_TRUE(m) << c.record;
        EXPECT_EQ(m->start, c.start) << c.record;
        EXPECT_EQ(m->reversed, c.reversed) << c.record;
    }
    EXPECT_FALSE(matchRecord("ST,GS,+001235kg", "1234"));

    const QByteArray at99 = QByteArray(95, 'x') + "1234";
    ASSERT_EQ(at99.size(), 99);
    EXPECT_TRUE(matchRecord(at99, "1234"));
    EXPECT_FALSE(matchRecord(at99 + "x", "1234"));
    EXPECT_FALSE(matchRecord("1234" + QByteArray(200, ' '), "1234"));
}

TEST(AnalyseNumbers, CountsOnlyTerminatedNumbers) {
    struct Case {
        const char* record;
        const char* weight;
        bool one;
        bool last;
    };
    const Case cases[] = {
        {"ST,GS,+001234kg", "1234", true, false},
        {"12 34", "34", true, false},  // the final 34 is neither counted nor last
        {"12 34", "12", true, true},
        {"G 1234 T 0500 N 0734 kg", "0734", false, true},
        {"G 1234 T 0500 N 0734 kg", "1234", false, false},
        {"4321 ", "1234", true, true},   // last number reversed
        {"1234", "1234", false, false},  // nothing terminates it
        {"12/5 ", "5", false, true},     // "/" separates numbers
        {"-12.5kg", "-12.5", true, true},
    };
    for (const auto& c : cases) {
        const auto f = AnalyseNumbers(QByteArray(c.record), QByteArray(c.weight));
        EXPECT_EQ(f.oneNumber, c.one) << c.record << " / " << c.weight;
        EXPECT_EQ(f.lastNumber, c.last) << c.record << " / " << c.weight;
    }
}

// The rows themselves are met in the search tests (protocol numbers and the log's lines name them).
TEST(SearchTables, BaudCeilings) {
    EXPECT_EQ(BaudOf(q("4800,e,7,1")), 4800);
    EXPECT_EQ(BaudOf(q("4800")), 0);
    EXPECT_EQ(NextBaudCeiling(q("300,n,8,1")), 600);
    EXPECT_EQ(NextBaudCeiling(q("19200,n,8,1")), 38400);
    EXPECT_EQ(NextBaudCeiling(q("38400,n,8,1")), 38400);
}
