#include "feeds/feed_hub.h"

#include "config/settings.h"
#include "core/weighing_core.h"

namespace veltrane {

FeedHub::FeedHub(WeighingCore& core, DdeServer& dde, QString settingsDatabase,
                 std::function<void(const QString&)> note)
    : m_core(core), m_settingsDatabase(std::move(settingsDatabase)), m_note(std::move(note)), m_dde(dde) {
    add(m_dde);
}

FeedHub::~FeedHub() {
    for (WeightFeed* feed : m_feeds) m_core.removeFeed(*feed);
}

void FeedHub::add(WeightFeed& feed, ConfiguredFeed* configured) {
    m_feeds.push_back(&feed);
    m_core.addFeed(feed);
    if (configured) m_configured.push_back(configured);
}

void FeedHub::reload() {
    FeedSettings settings;
    try {
        auto db = Database::open(m_settingsDatabase, QString::fromLatin1(kSettingsDatabaseConnect));
        ensureFeedsTable(*db);
        settings = readFeedSettings(*db);
    } catch (const DbError& e) {
        // The feeds are extras: the weighing goes on without them.
        settings.httpfeed = false;
        settings.mqttfeed = false;
        if (m_note) m_note(QStringLiteral("Feeds are off: ") + e.description());
    }
    m_settings = settings;
    for (ConfiguredFeed* feed : m_configured) feed->apply(m_settings);
}

}  // namespace veltrane
