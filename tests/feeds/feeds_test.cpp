#include "config/feed_settings.h"
#include "core/weighing_core.h"
#include "feeds/feed_hub.h"
#include "tests/core/core_fixture.h"

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

struct Recording final : WeightFeed, ConfiguredFeed {
    void weightChanged(const QString& text) override { weights << text; }
    void weighmentServed(const ServedWeighment& w) override {
        served.push_back(w);
        // The row is in the log by the time a feed hears of it.
        auto rs = db->openRecordSet(QStringLiteral("select * from weightlog where slno = ?"), {w.slno});
        rowPresent.push_back(!rs->isEof() && rs->field(QStringLiteral("weight")).toString() == w.weight &&
                             rs->field(QStringLiteral("Datetime")).toString() == w.datetime);
    }
    void apply(const FeedSettings& s) override { applied.push_back(s); }
    std::unique_ptr<Database> db;
    QStringList weights;
    std::vector<ServedWeighment> served;
    std::vector<bool> rowPresent;
    std::vector<FeedSettings> applied;
};

struct Hub {
    Hub() : fakes(app.path()) {
        QFile keep(app.outFolder() + QStringLiteral("keep.txt"));
        keep.open(QIODevice::WriteOnly);
        feed.db = app.settingsDb();
        hub.add(feed, &feed);
    }
    AppFolder app;
    FakeServices fakes;
    Settings settings;
    FakeView view;
    WeighingCore core{fakes.services, settings, view};
    QStringList notes;
    FeedHub hub{core, fakes.dde, app.settingsPath(), [this](const QString& n) { notes << n; }};
    Recording feed;
};

}  // namespace

TEST(Feeds, HearTheWeightBoxAndEachServingsLogRow) {
    Hub h;
    ASSERT_EQ(h.core.loadConfiguration(), LoadResult::Completed);
    h.fakes.clock.advanceSeconds(20);
    for (const char* load : {"900\r", "0\r", "1250\r"})
        h.fakes.port.inject(load);  // one stable reading serves
    h.fakes.prompts.log.clear();
    for (int truck = 0; truck < 2; ++truck) {
        for (int i = 0; i < 6; ++i) h.fakes.port.inject(truck ? "1250\r" : "900\r");
        for (int i = 0; i < 6; ++i) h.fakes.port.inject("0\r");
    }
    ASSERT_EQ(h.feed.served.size(), 2u);
    EXPECT_EQ(h.feed.served[0].weight, QStringLiteral("900"));
    EXPECT_EQ(h.feed.served[1].weight, QStringLiteral("1250"));
    EXPECT_EQ(h.feed.served[1].slno, h.feed.served[0].slno + 1);
    EXPECT_EQ(h.feed.rowPresent, (std::vector<bool>{true, true}));
    // Changes only, and the live feed's item follows the same box.
    EXPECT_EQ(h.feed.weights.first(), QString()) << "a feed added hears the current (empty) box";
    EXPECT_EQ(h.feed.weights.count(QStringLiteral("1250")), 2)
        << "once for the stray reading, once for the truck";
    EXPECT_EQ(h.fakes.dde.updates.mid(1), h.feed.weights) << "the item exists, empty, from the start";
}

TEST(Feeds, ReloadUpgradesAnOlderSettingsFileAndKeepsItsValues) {
    Hub h;
    auto db = h.app.settingsDb();
    // A file from before the broker feed: only some columns, one of them changed by the site.
    db->execute(QStringLiteral("drop table feeds"));
    db->execute(QStringLiteral("create table feeds (httpfeed BOOLEAN, httpport INTEGER)"));
    db->execute(QStringLiteral("insert into feeds values (-1, 9001)"));
    h.hub.reload();
    ASSERT_EQ(h.feed.applied.size(), 1u);
    FeedSettings expected;
    expected.httpfeed = true;
    expected.httpport = 9001;
    expected.mqtttopic = defaultMqttTopic();
    EXPECT_EQ(h.feed.applied[0], expected);
    EXPECT_TRUE(h.notes.isEmpty());

    // A file from before the feeds: the table comes with its defaults; a save and the broker's mark
    // do not disturb each other.
    db->execute(QStringLiteral("drop table feeds"));
    h.hub.reload();
    FeedSettings defaults;
    defaults.mqtttopic = defaultMqttTopic();
    EXPECT_EQ(h.feed.applied[1], defaults);
    writeMqttAcknowledged(*db, 41);
    FeedSettings changed = h.feed.applied[1];
    changed.mqttfeed = true;
    changed.mqtthost = QStringLiteral("broker.example");
    changed.mqtttopic = QStringLiteral("site/north");
    changed.httptoken = QStringLiteral("s3cret");
    writeFeedSettings(*db, changed);
    EXPECT_EQ(readFeedSettings(*db), changed);
    EXPECT_EQ(readMqttAcknowledged(*db), 41);

    // An unreadable file leaves the feeds off and says why.
    QFile::remove(h.app.settingsPath());
    h.hub.reload();
    EXPECT_FALSE(h.feed.applied[2].httpfeed || h.feed.applied[2].mqttfeed);
    ASSERT_EQ(h.notes.size(), 1);
    EXPECT_TRUE(h.notes[0].startsWith(QStringLiteral("Feeds are off: "))) << h.notes[0].toStdString();
}

TEST(Feeds, SettingsThatCannotBeSavedNameTheirField) {
    struct Case {
        const char* name;
        void (*change)(FeedSettings&);
        const char* field;  // nullptr: accepted
    };
    const Case cases[] = {
        // clang-format off
        {"defaults", [](FeedSettings&) {}, nullptr},
        {"port 0", [](FeedSettings& s) { s.httpport = 0; }, "Web feed port"},
        {"port 65536", [](FeedSettings& s) { s.httpport = 65536; }, "Web feed port"},
        {"port 65535", [](FeedSettings& s) { s.httpport = 65535; }, nullptr},
        {"a host name", [](FeedSettings& s) { s.httpaddress = "localhost"; }, "Web feed address"},
        {"IPv6 loopback", [](FeedSettings& s) { s.httpaddress = "::1"; }, nullptr},
        {"every network, no token", [](FeedSettings& s) { s.httpaddress = "0.0.0.0"; }, "Web feed token"},
        {"every network, token", [](FeedSettings& s) { s.httpaddress = "0.0.0.0"; s.httptoken = "k"; }, nullptr},
        {"token with a blank", [](FeedSettings& s) { s.httptoken = "a b"; }, "Web feed token"},
        {"broker on without host", [](FeedSettings& s) { s.mqttfeed = true; }, "Broker host"},
        {"broker off without host", [](FeedSettings& s) { s.mqttport = 8883; }, nullptr},
        {"broker port", [](FeedSettings& s) { s.mqttport = -1; }, "Broker port"},
        {"wildcard topic", [](FeedSettings& s) { s.mqtttopic = "site/#"; }, "Topic"},
        {"broker's own topic", [](FeedSettings& s) { s.mqtttopic = "$SYS/x"; }, "Topic"},
        {"host with a blank", [](FeedSettings& s) { s.mqtthost = "broker .example"; }, "Broker host"},
        {"password without user", [](FeedSettings& s) { s.mqttpassword = "pw"; }, "Broker user"},
        {"control character in topic", [](FeedSettings& s) { s.mqtttopic = "site\x01north"; }, "Topic"},
        {"origins", [](FeedSettings& s) { s.httporigins = {"https://erp.example.com:8443", "http://[::1]:81"}; }, nullptr},
        {"origin with a path", [](FeedSettings& s) { s.httporigins = {"https://erp.example.com/app"}; }, "Web feed origins"},
        {"origin without scheme", [](FeedSettings& s) { s.httporigins = {"erp.example.com"}; }, "Web feed origins"},
        {"any origin", [](FeedSettings& s) { s.httporigins = {"*"}; }, "Web feed origins"},
        // clang-format on
    };
    for (const Case& c : cases) {
        FeedSettings s;
        c.change(s);
        const auto error = checkFeedSettings(s);
        if (!c.field) {
            EXPECT_FALSE(error) << c.name << ": " << error->message.toStdString();
            continue;
        }
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(error->field.toStdString(), c.field) << c.name;
        EXPECT_TRUE(error->message.startsWith(error->field + QStringLiteral(": "))) << c.name;
    }
}
