// The collector's pure parts: the settings it refuses, the weights it decodes, the gaps and chain
// breaks it reports.
#include "collect/collect_settings.h"
#include "collect/messages.h"
#include "collect/report.h"

#include <gtest/gtest.h>

using namespace veltrane;

namespace {

const QString kLog = QStringLiteral("0123456789abcdef0123456789abcdef");

TEST(CollectSettings, RefusesWhatCannotWork) {
    const char* const base = "host = broker.example\ndatabase = dbname=fleet\n";
    const struct {
        const char* extra;
        const char* error;  // empty: accepted
    } cases[] = {
        {"", ""},
        {"topic = quarry/+/scales\n", ""},
        {"port = 0\n", "Broker port: 0 is not a port number"},
        {"password = x\n", "a password needs a user name"},
        {"topic = quarry/#\n", "without #"},
        {"topic = quarry/ab+\n", "whole levels only"},
        {"tls = maybe\n", "line 3: tls: \"maybe\" is not yes or no."},
        {"colour = red\n", "line 3: \"colour\" is not a known setting."},
        {"database =\n", "the PostgreSQL connection string is needed"},
    };
    for (const auto& c : cases) {
        const auto parsed = parseCollectSettings(QByteArray(base) + c.extra);
        if (*c.error == 0) {
            EXPECT_TRUE(std::holds_alternative<CollectSettings>(parsed)) << c.extra;
        } else {
            const auto* error = std::get_if<QString>(&parsed);
            ASSERT_TRUE(error) << c.extra;
            EXPECT_TRUE(error->contains(QString::fromUtf8(c.error))) << error->toStdString();
        }
    }
}

TEST(CollectMessages, DecodesWeights) {
    const struct {
        const char* text;
        double value;
        const char* unit;
    } cases[] = {{"24360", 24360, ""}, {" -12,5 kg", -12.5, "kg"}, {"3.25t", 3.25, "t"}};
    for (const auto& c : cases) {
        const auto d = decodeWeight(QString::fromUtf8(c.text));
        ASSERT_TRUE(d) << c.text;
        EXPECT_DOUBLE_EQ(d->value, c.value);
        EXPECT_EQ(d->unit, QString::fromUtf8(c.unit));
    }
    EXPECT_FALSE(decodeWeight(QStringLiteral("ERR")));
    EXPECT_FALSE(decodeWeight(QStringLiteral("12 34")));
}

TEST(CollectMessages, DigestFollowsTheSharedDefinition) {
    const SiteRow first{1, QStringLiteral("1 010 kg"), QStringLiteral("2026-03-01 08:00:01"), {}};
    EXPECT_EQ(rowDigest(kLog, first, {}),
              QStringLiteral("c8126cf4aea8ac458d158e1147e42390b72596cf948b6d37132c7bf21356a220"));
}

TEST(CollectMessages, GapsAndBreaks) {
    std::vector<SiteRow> rows;
    QString previous;
    for (qint64 n = 1; n <= 6; ++n) {
        SiteRow row{n, QString::number(n * 100), QStringLiteral("2026-03-01 08:00:00"), {}};
        row.digest = rowDigest(kLog, row, previous);
        previous = row.digest;
        if (n != 4) rows.push_back(row);  // 4 is missing: 5 cannot be checked
    }
    EXPECT_TRUE(chainBreaks(kLog, rows).empty());
    rows[1].weight = QStringLiteral("999");  // slno 2 changed after it was chained
    rows[3].digest = QStringLiteral("0");    // slno 5 forged, but its predecessor is missing
    rows[4].datetime = QStringLiteral("x");  // slno 6 changed
    EXPECT_EQ(chainBreaks(kLog, rows), (std::vector<qint64>{2, 6}));

    EXPECT_EQ(missingSerials({3, 4, 8, 9, 12}, {5, 6}), (std::vector<qint64>{7, 10, 11}));
    EXPECT_TRUE(missingSerials({}, {1}).empty());
    EXPECT_EQ(serialRuns({7, 10, 11, 12}), QStringLiteral("7, 10-12"));
}

TEST(CollectMessages, DeleteEventNamesItsRows) {
    const auto e =
        parseEvent(QStringLiteral("s"),
                   R"({"logid": "x", "eventid": 3, "time": "t", "kind": "delete", "detail": {"count": 2,)"
                   R"( "rows": [{"slno": 4, "weight": "1", "datetime": "d", "digest": "g"}, {"slno": 5}]}})");
    ASSERT_TRUE(e);
    ASSERT_EQ(e->deleted.size(), 1U);  // the row without its content cannot fill the chain
    EXPECT_EQ(e->deleted[0].slno, 4);
    EXPECT_EQ(e->deleted[0].digest, QStringLiteral("g"));
}

}  // namespace
