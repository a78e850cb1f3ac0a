#include "config/feed_settings.h"
#include "feeds/mqtt/weighment_outbox.h"
#include "tests/core/core_fixture.h"

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

struct Log {
    // firstRun: the broker feed has never run on this log; otherwise it ran from before the first row.
    explicit Log(int rows, bool firstRun = false) {
        if (!firstRun) writeMqttAcknowledged(*db, 0);
        add(rows);
    }
    void add(int rows) {
        for (int i = 1; i <= rows; ++i)
            db->execute(
                QStringLiteral("insert into weightlog (Datetime, weight) values ('2026-01-02 03:04:05', ?)"),
                {QString::number(1000 + i)});
    }
    std::vector<qint64> take(WeighmentOutbox& box) {
        std::vector<qint64> out;
        for (const ServedWeighment& w : box.takeNext()) out.push_back(w.slno);
        return out;
    }
    AppFolder app;
    std::unique_ptr<Database> db = app.settingsDb();
};

using Rows = std::vector<qint64>;

}  // namespace

TEST(MqttOutbox, SendsInOrderWithinTheWindowAndMarksOnlyRunsOfAcknowledgedRows) {
    Log log(6);
    log.db->execute(QStringLiteral("delete from weightlog where slno = 3"));  // deleted in the log viewer
    WeighmentOutbox box(*log.db, 2);
    EXPECT_EQ(box.open(), QString());

    const auto first = box.takeNext();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[1].weight, QStringLiteral("1002"));
    EXPECT_EQ(first[1].datetime, QStringLiteral("2026-01-02 03:04:05"));
    EXPECT_EQ(log.take(box), Rows{}) << "the window is full";

    EXPECT_FALSE(box.acknowledge(2)) << "1 still waits";
    EXPECT_TRUE(box.acknowledge(1));
    EXPECT_EQ(box.acknowledged(), 2);
    EXPECT_EQ(log.take(box), (Rows{4, 5})) << "the gap is skipped";
    EXPECT_FALSE(box.acknowledge(5));

    // The connection drops: everything above the mark goes again, in order, before the rest.
    box.restart();
    EXPECT_EQ(log.take(box), (Rows{4, 5}));
    box.acknowledge(5);
    EXPECT_TRUE(box.acknowledge(4));
    EXPECT_EQ(box.acknowledged(), 5);
    box.persist();

    // A restart of the program carries on from the durable mark.
    WeighmentOutbox again(*log.db, 8);
    EXPECT_EQ(again.open(), QString());
    EXPECT_EQ(log.take(again), Rows{6});

    // Rows the library refused go again, the refused one first.
    WeighmentOutbox refused(*log.db, 8);
    log.db->execute(QStringLiteral("insert into weightlog (Datetime, weight) values ('2026-01-02', '7')"));
    log.db->execute(QStringLiteral("insert into weightlog (Datetime, weight) values ('2026-01-02', '8')"));
    ASSERT_EQ(refused.open(), QString());
    EXPECT_EQ(log.take(refused), (Rows{6, 7, 8}));
    refused.handBack(7);
    EXPECT_EQ(log.take(refused), (Rows{7, 8}));
    EXPECT_TRUE(refused.acknowledge(6));
    EXPECT_EQ(refused.acknowledged(), 6);
}

TEST(MqttOutbox, TheFirstRunCarriesWeighmentsFromThenOnNotTheHistory) {
    Log log(3, true);
    WeighmentOutbox box(*log.db, 4);
    EXPECT_EQ(box.open(), QString());
    EXPECT_EQ(readMqttAcknowledged(*log.db), 3);
    EXPECT_EQ(log.take(box), Rows{});
    log.add(1);
    EXPECT_EQ(log.take(box), Rows{4});
}

TEST(MqttOutbox, AMarkAboveTheLogMovesTheNumberingOnInsteadOfHidingNewRows) {
    Log log(5);
    // The newest rows deleted: the numbering does not go back, so the mark is not above it.
    log.db->execute(QStringLiteral("delete from weightlog where slno >= 4"));
    writeMqttAcknowledged(*log.db, 5);
    WeighmentOutbox box(*log.db, 4);
    EXPECT_EQ(box.open(), QString());

    // An older log put back: the broker already carried serial numbers up to 500.
    writeMqttAcknowledged(*log.db, 500);
    const QString note = box.open();
    EXPECT_TRUE(note.contains(QStringLiteral("numbered from 501"))) << note.toStdString();
    log.db->execute(
        QStringLiteral("insert into weightlog (Datetime, weight) values ('2026-01-03 00:00:00', '7')"));
    EXPECT_EQ(log.take(box), Rows{501});
}
