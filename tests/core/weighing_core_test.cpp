#include "core/weighing_core.h"

#include "core/port_control.h"
#include "core/weighment_cycle.h"
#include "tests/core/core_fixture.h"

#include <gtest/gtest.h>

#include <utility>

using namespace veltrane;
using namespace veltrane::test;

namespace {

// The core on a real application folder (default configuration row) with fake services.
struct Core {
    Core() : fakes(app.path()) { core.setObserver(&observer); }
    void load() {
        ASSERT_EQ(core.loadConfiguration(), LoadResult::Completed);
        ASSERT_EQ(fakes.prompts.log, QStringList{});
    }
    void send(const QByteArray& bytes, int times = 1) {
        for (int i = 0; i < times; ++i) fakes.port.inject(bytes);
    }
    FakeTimer& timer(Timer& t) { return dynamic_cast<FakeTimer&>(t); }

    AppFolder app;
    FakeServices fakes;
    Settings settings;
    FakeView view;
    WeighingCore core{fakes.services, settings, view};
    Served observer;
};

}  // namespace

// What a failing weight log stops is weight_outputs_test's; how any failure is shown is the same.
TEST(WeighingCore, AFailedServingIsShownOnceAtTheNextReceivedCharacter) {
    Core c;
    c.app.setConfig(QStringLiteral("OutputClipboard"), true);
    c.load();
    EXPECT_EQ(c.fakes.files.cleaned, QStringList{c.app.outFolder() + QStringLiteral("veltrane.csv")})
        << "leftovers of a killed serving are removed when the settings load";
    c.fakes.files.replaceFailures = {QStringLiteral("No space left on device")};
    c.send("800\r", 6);
    EXPECT_EQ(c.observer.weights, QStringList{"800"});
    EXPECT_EQ(c.view.status, QStringLiteral("Served weight 800 at 2026-03-14 09:30:00"));
    EXPECT_EQ(c.fakes.clipboard.text, QStringLiteral("800")) << "the later steps still run";
    EXPECT_EQ(c.app.weightLogRows(), 1);
    EXPECT_TRUE(c.fakes.prompts.log.isEmpty()) << "nothing is shown at the moment, and nothing is asked";
    EXPECT_TRUE(c.core.hasPendingError());
    c.send("8");
    EXPECT_EQ(c.fakes.prompts.log.size(), 1);
    c.send("00\r", 6);
    EXPECT_EQ(
        c.fakes.prompts.log,
        QStringList{QStringLiteral("message!: Export file %1veltrane.csv could not be written: No space "
                                   "left on device")
                        .arg(c.app.outFolder())});
}

TEST(WeighingCore, RecordsArrivingWhileTheServingSpeaksDoNotServeAgain) {
    for (bool printButton : {false, true}) {
        Core c;
        c.app.setConfig(QStringLiteral("activateVoiceAlert"), true);
        c.app.setConfig(QStringLiteral("voicealertnormal"), true);
        c.app.setConfig(QStringLiteral("AutosaveonStableWeight"), !printButton);
        c.app.setConfig(QStringLiteral("saveonbutton"), printButton);
        c.core.loadConfiguration();
        c.core.setLastRecordTime(c.fakes.clock.now().addSecs(-60));
        // Each word played lets the port deliver whole records of the same load.
        c.fakes.sound.whilePlaying = [&] { c.send("1000\r", 3); };
        c.send("1000\r", printButton ? 1 : 6);
        EXPECT_EQ(c.observer.weights, QStringList{"1000"}) << printButton;
        EXPECT_EQ(c.app.weightLogRows(), 1) << printButton;
        EXPECT_EQ(c.fakes.sound.playedNames(), (QStringList{"1.wav", "0.wav", "0.wav", "0.wav"}))
            << printButton;
        EXPECT_FALSE(c.core.cycle().serving);
        EXPECT_EQ(c.view.weight, QStringLiteral("1000"));
    }
}

TEST(WeighingCore, PrintButtonServingClearsTheWeightBoxLater) {
    Core c;
    c.app.setConfig(QStringLiteral("AutosaveonStableWeight"), false);
    c.app.setConfig(QStringLiteral("saveonbutton"), true);
    c.load();
    c.send("900\r");
    EXPECT_TRUE(c.observer.weights.isEmpty()) << "refused within 20 s of start";
    c.fakes.clock.advanceSeconds(20);
    c.send("900\r");
    EXPECT_EQ(c.observer.weights, QStringList{"900"});
    FakeTimer& clear = c.timer(c.core.timerWeightClear());
    EXPECT_EQ(clear.interval(), 15000);
    ASSERT_TRUE(clear.isEnabled());
    clear.fire();
    EXPECT_EQ(c.view.weight, QString());
    EXPECT_FALSE(clear.isEnabled());
}

TEST(WeighingCore, OpeningThePort) {
    struct Case {
        const char* name;
        std::vector<std::pair<QString, QVariant>> config;
        int failOpens;
        int attempts;
        QStringList prompts;
        QString status;
        QString caption;
        bool throwTimer;
    };
    const Case cases[] = {
        // clang-format off
        {"port 0 opens port 1", {{"port", 0}}, 0, 1, {}, "PORT ON", "Close port", false},
        {"request timer in throw-string mode", {{"throwstring", true}, {"outstring", "ENQ"}}, 0, 1, {}, "PORT ON",
         "Close port", true},
        {"no request string, no timer", {{"throwstring", true}, {"outstring", ""}}, 0, 1, {}, "PORT ON",
         "Close port", false},
        {"gives up after 21 tries", {}, -1, 21,
         {"beep", "message: Could not open serial port! 1 !", "message!: No such device: /dev/fake1"}, "PORT OFF !",
         "Open port", false},
        // clang-format on
    };
    for (const Case& c : cases) {
        Core core;
        for (const auto& [column, value] : c.config) core.app.setConfig(column, value);
        core.load();
        core.fakes.port.failOpens = c.failOpens;
        core.core.OpenSerialPort();
        EXPECT_EQ(core.fakes.port.openAttempts, c.attempts) << c.name;
        EXPECT_EQ(core.fakes.prompts.log, c.prompts) << c.name;
        EXPECT_EQ(core.view.portStatus, c.status) << c.name;
        EXPECT_EQ(core.view.portButton, c.caption) << c.name;
        EXPECT_EQ(core.core.timerThrow().isEnabled(), c.throwTimer) << c.name;
        EXPECT_EQ(core.settings.port, 1) << c.name;
        EXPECT_EQ(core.fakes.port.portNumber(), 1) << c.name;
        EXPECT_EQ(core.view.portNumber, QStringLiteral("1")) << c.name;
        EXPECT_EQ(core.fakes.port.settingsText(), QStringLiteral("9600,n,8,1")) << c.name;
        EXPECT_GE(core.fakes.events.calls, c.attempts > 1 ? c.attempts : 0) << c.name;
    }
}

TEST(WeighingCore, RequestStrings) {
    struct Case {
        QString outstring;
        bool addcr;
        QList<QByteArray> written;
    };
    const Case cases[] = {
        {"ENQ", true, {QByteArray(1, '\x05'), "\r"}},
        {"enq", false, {"enq"}},
        {"$", true, {"$", "\r"}},
    };
    for (const Case& c : cases) {
        Core core;
        core.app.setConfig(QStringLiteral("throwstring"), true);
        core.app.setConfig(QStringLiteral("outstring"), c.outstring);
        core.app.setConfig(QStringLiteral("addcr"), c.addcr);
        core.load();
        core.core.OpenSerialPort();
        FakeTimer& tick = core.timer(core.core.timerThrow());
        EXPECT_EQ(tick.interval(), 400);
        tick.fire();
        EXPECT_EQ(core.fakes.port.written, c.written) << c.outstring.toStdString();
        // Closed by the button, the timer keeps ticking but sends nothing.
        core.core.closePortByButton();
        EXPECT_TRUE(tick.isEnabled());
        tick.fire();
        EXPECT_EQ(core.fakes.port.written, c.written) << c.outstring.toStdString();
    }
}

TEST(WeighingCore, PortButtonAndReload) {
    Core c;
    c.load();
    c.core.OpenSerialPort();
    c.send("1500\r");
    EXPECT_TRUE(c.core.isPortOpen());
    c.core.closePortByButton();
    EXPECT_FALSE(c.core.isPortOpen());
    EXPECT_EQ(c.view.portButton, QStringLiteral("Open port"));
    EXPECT_EQ(c.view.portStatus, QStringLiteral("PORT OFF !"));
    EXPECT_EQ(c.view.weight, QStringLiteral("1500")) << "the button keeps the weight box";

    c.core.OpenSerialPort();
    c.core.loadConfiguration();
    EXPECT_FALSE(c.core.isPortOpen()) << "a reload leaves the port closed";
    EXPECT_EQ(c.view.portStatus, QStringLiteral("PORT OFF !"));
    EXPECT_EQ(c.view.weight, QString());
}

TEST(WeighingCore, ServingsByHandAndTheDeviceComingAndGoingAreInTheEventLog) {
    Core c;
    c.app.setConfig(QStringLiteral("AutosaveonStableWeight"), false);
    c.app.setConfig(QStringLiteral("saveonbutton"), true);
    c.load();
    c.core.OpenSerialPort();
    c.fakes.clock.advanceSeconds(20);
    c.send("900\r");
    c.core.rearmByHand();
    c.fakes.port.close();
    Q_EMIT c.fakes.port.deviceLost(QStringLiteral("gone"));
    static_cast<FakeTimer&>(c.core.port().retryTimer()).fire();
    QStringList events;
    auto rs = c.app.settingsDb()->openRecordSet(
        QStringLiteral("select * from eventlog where kind <> 'chain-start'"));
    for (; !rs->isEof(); rs->moveNext())
        events << rs->field(QStringLiteral("kind")).toString() + QLatin1Char(' ') +
                      rs->field(QStringLiteral("detail")).toString();
    EXPECT_EQ(events, (QStringList{R"(hand-serving {"how":"print button","weight":"900"})",
                                   R"(hand-serving {"how":"New weighment"})",
                                   R"(device-lost {"device":"/dev/fake1","port":1})",
                                   R"(device-back {"device":"/dev/fake1","port":1})"}));
}
