#include "core/weighment_cycle.h"

#include "tests/support/fakes.h"

#include <gtest/gtest.h>

using namespace veltrane;
using veltrane::test::FakeClock;

namespace {

// Records what the cycle does as one line per action, so that tables can compare whole runs.
struct Host final : CycleHost {
    const Clock& clock() const override { return fakeClock; }
    void setStatusText(const QString& text) override { status << text; }
    void setStableCountText(const QString& text) override { count = text; }
    void showTooSoon(const QString& text) override {
        log << QStringLiteral("too soon");
        raw = text;
    }
    void serveWeight(const QString& w) override { log << QStringLiteral("serve ") + w; }
    void startWeightClearTimer() override { log << QStringLiteral("clear timer"); }
    void playTruckOut() override { log << QStringLiteral("truck out"); }
    void rearmed() override { log << QStringLiteral("rearm"); }
    FakeClock fakeClock;
    QStringList log;
    QStringList status;
    QString count;
    QString raw;
};

Settings automatic(int minReadings, int accuracy, double minimum, float discard) {
    Settings s;
    s.AutosaveonStableWeight = true;
    s.minstablereadings = static_cast<std::uint8_t>(minReadings);
    s.StabilityCheckAccuracy = static_cast<std::uint8_t>(accuracy);
    s.MinimumAutosaveWeight = minimum;
    s.discardweightlessthan = discard;
    return s;
}

QStringList run(WeighmentCycle& cycle, const Settings& s, Host& host, std::initializer_list<float> readings) {
    for (float w : readings) cycle.WeighmentStep(w, s, host);
    return host.log;
}

}  // namespace

TEST(WeighmentCycle, AutomaticPath) {
    Settings startOnButton = automatic(1, 0, 100, 10);
    startOnButton.Startonbutton = true;
    Settings voice = automatic(1, 0, 100, 10);
    voice.activateVoiceAlert = true;
    struct Case {
        const char* name;
        Settings settings;
        std::vector<float> readings;
        QStringList log;
    };
    const Settings usual = automatic(1, 0, 100, 10), five = automatic(5, 0, 100, 10);
    const Case cases[] = {
        // clang-format off
        {"rounded values equal: served once at the sixth reading", five,
         {1000, 1000.4f, 999.6f, 1000, 1000, 1000, 1000}, {"serve 1000"}},
        {"one reading short", five, {1000, 1000, 1000, 1000, 1000}, {}},
        {"accuracy 1 tells 1000.04 from 1000.06", automatic(1, 1, 100, 10), {1000.04f, 1000.06f}, {}},
        {"half to even: 2.5 equals 2", automatic(1, 0, 1, 0), {2.5f, 2.0f}, {"serve 2"}},
        {"half to even: 3.5 is not 3", automatic(1, 0, 1, 0), {3.5f, 3.0f}, {}},
        {"the served text keeps the decimals", usual, {1234.4f, 1234.4f}, {"serve 1234.4"}},
        {"a served load is not served again", usual, {1000, 1000, 1000, 1000, 1000}, {"serve 1000"}},
        {"second truck before the platform emptied", usual,
         {1000, 1000, 2000, 2000, 2000, 50, 50, 3000, 3000}, {"serve 1000"}},
        {"emptied at exactly the discard weight re-arms", usual,
         {1000, 1000, 10, 10, 2000, 2000}, {"serve 1000", "rearm", "serve 2000"}},
        {"exactly the minimum does not serve", usual, {100, 100, 100}, {}},
        {"a stable empty platform before any load does nothing", usual, {0, 0, 0}, {}},
        {"truck-out sound with voice on", voice, {1000, 1000, 0, 0}, {"serve 1000", "rearm", "truck out"}},
        {"Startonbutton holds the re-arm", startOnButton, {1000, 1000, 0, 0, 0, 2000, 2000}, {"serve 1000"}},
        // clang-format on
    };
    for (const Case& c : cases) {
        Host host;
        WeighmentCycle cycle;
        for (float w : c.readings) EXPECT_TRUE(cycle.WeighmentStep(w, c.settings, host));
        EXPECT_EQ(host.log, c.log) << c.name;
    }
}

TEST(WeighmentCycle, TextsAndCounter) {
    Host host;
    WeighmentCycle cycle;
    const Settings s = automatic(2, 0, 100, 10);
    run(cycle, s, host, {1234.5f, 1234.5f});
    EXPECT_EQ(host.count, QStringLiteral("1"));
    run(cycle, s, host, {1234.5f});
    EXPECT_EQ(host.status, (QStringList{"Serving weight 1234.5 at 2026-03-14 09:30:00",
                                        "Served weight 1234.5 at 2026-03-14 09:30:00"}));
    // The box keeps the old count until the next reading.
    EXPECT_EQ(host.count, QStringLiteral("2"));
    EXPECT_EQ(cycle.stableCount, 0);
    host.fakeClock.advanceSeconds(61);
    run(cycle, s, host, {3, 3, 3});
    EXPECT_EQ(host.status.last(), QStringLiteral("Restarted weight serving at 2026-03-14 09:31:01"));
    EXPECT_FALSE(cycle.served);

    // The counter stops at 5000 (a 16-bit counter would otherwise overflow on a long-idle platform).
    WeighmentCycle idle;
    Host idleHost;
    const Settings never = automatic(255, 0, 1e9, -1);
    for (int i = 0; i < 6000; ++i) idle.WeighmentStep(7, never, idleHost);
    EXPECT_EQ(idle.stableCount, 5000);
    EXPECT_EQ(idleHost.count, QStringLiteral("5000"));
}

TEST(WeighmentCycle, PrintButtonTwentySecondRule) {
    Settings s;
    s.saveonbutton = true;
    s.MinimumAutosaveWeight = 100;
    struct Case {
        const char* name;
        std::vector<qint64> msAfterStart;  // one reading of 500 each
        QStringList log;
    };
    const Case cases[] = {
        {"first reading within 20 s of start is refused", {19000}, {"too soon"}},
        {"a refusal restarts the window",
         {19000, 38000, 58000},
         {"too soon", "too soon", "serve 500", "clear timer"}},
        {"20 s after start is served", {20000}, {"serve 500", "clear timer"}},
        // whole seconds: 09:30:00.900 to 09:30:20.100 is 20 seconds
        {"truncated seconds", {900, 20100}, {"too soon", "serve 500", "clear timer"}},
        {"19.999 s is too soon", {25000, 44999}, {"serve 500", "clear timer", "too soon"}},
    };
    for (const Case& c : cases) {
        Host host;
        WeighmentCycle cycle;
        const QDateTime start = host.fakeClock.now();
        cycle.lastRecordTime = start;
        for (qint64 ms : c.msAfterStart) {
            host.fakeClock.set(start.addMSecs(ms));
            const bool accepted = cycle.WeighmentStep(500, s, host);
            EXPECT_EQ(accepted, host.log.last() != QStringLiteral("too soon")) << c.name;
        }
        EXPECT_EQ(host.log, c.log) << c.name;
    }

    Host host;
    WeighmentCycle cycle;
    cycle.lastRecordTime = host.fakeClock.now();
    host.fakeClock.advanceSeconds(5);
    cycle.WeighmentStep(500, s, host);
    EXPECT_EQ(host.raw,
              QStringLiteral("09:30:05: Weight data is coming too soon! Change your configuration!"));
    // Readings at or under the minimum are neither served nor refused.
    cycle.WeighmentStep(100, s, host);
    EXPECT_EQ(host.log, QStringList{"too soon"});
}

TEST(WeighmentCycle, ModesAndFlags) {
    Host host;
    WeighmentCycle cycle;
    cycle.lastRecordTime = host.fakeClock.now().addSecs(-60);

    Settings off;  // both modes off: nothing is ever served
    off.MinimumAutosaveWeight = 1;
    run(cycle, off, host, {500, 500, 500, 500});
    EXPECT_TRUE(host.log.isEmpty());

    // A print-button serving sets the served flag: switched to automatic, the platform must empty first.
    Settings button = off;
    button.saveonbutton = true;
    run(cycle, button, host, {500});
    EXPECT_TRUE(cycle.served);
    const Settings autoMode = automatic(1, 0, 1, 0);
    run(cycle, autoMode, host, {700, 700, 700, 0, 0, 700, 700});
    EXPECT_EQ(host.log, (QStringList{"serve 500", "clear timer", "rearm", "serve 700"}));

    // The hand re-arm lets Startonbutton serve a second load.
    Settings hold = automatic(1, 0, 1, 0);
    hold.Startonbutton = true;
    host.log.clear();
    run(cycle, hold, host, {900, 900, 900});
    EXPECT_TRUE(host.log.isEmpty());
    cycle.rearmByHand();
    run(cycle, hold, host, {900});
    EXPECT_EQ(host.log, QStringList{"serve 900"});
}
