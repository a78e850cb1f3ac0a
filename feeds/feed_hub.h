#pragma once
// The outward feeds of the running program. Every feed hears the weighing core; the feeds whose
// settings live in table feeds (web, broker) are started, restarted or stopped by reload(), which
// runs at start-up and after each save of the configuration window.

#include "config/feed_settings.h"
#include "core/weight_feed.h"
#include "feeds/dde_feed.h"

#include <QString>

#include <functional>
#include <vector>

namespace veltrane {

class WeighingCore;

// A feed configured from table feeds.
class ConfiguredFeed {
public:
    virtual ~ConfiguredFeed() = default;
    // Starts, restarts or stops the feed to match the settings; a feed whose settings did not change
    // keeps running undisturbed.
    virtual void apply(const FeedSettings& settings) = 0;
};

class FeedHub {
public:
    // settingsDatabase: the path of scale.mdb. note: shows a line on the main window's status line.
    FeedHub(WeighingCore& core, DdeServer& dde, QString settingsDatabase,
            std::function<void(const QString&)> note);
    ~FeedHub();
    FeedHub(const FeedHub&) = delete;
    FeedHub& operator=(const FeedHub&) = delete;

    // Adds a feed to the core; a configured one also hears every reload. The hub does not own it; it
    // must outlive the hub.
    void add(WeightFeed& feed, ConfiguredFeed* configured = nullptr);

    // Reads table feeds (adding it, or the columns it lacks, to an older file) and applies it to the
    // configured feeds. A file that cannot be read leaves every configured feed off, with a note.
    void reload();
    const FeedSettings& settings() const { return m_settings; }

private:
    WeighingCore& m_core;
    QString m_settingsDatabase;
    std::function<void(const QString&)> m_note;
    DdeFeed m_dde;
    std::vector<WeightFeed*> m_feeds;
    std::vector<ConfiguredFeed*> m_configured;
    FeedSettings m_settings;
};

}  // namespace veltrane
