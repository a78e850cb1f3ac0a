// The indicator comes back by itself: a pulled and replugged adapter (the simulator's pty closing and a
// new one appearing under the same link) is shown once and the port reopens with its settings, unless
// the operator closed it. Real parts: the simulator on a pty, Qt SerialPort, the core.

#include "config/comports.h"
#include "core/decoder.h"
#include "core/weighing_core.h"
#include "core/weighment_cycle.h"
#include "platform/qt_serial_port.h"
#include "tests/core/core_fixture.h"
#include "tests/reliability/sim_process.h"

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

// The main window's boxes, keeping every port status shown so a storm of them would be seen.
class RecordingView final : public MainView {
public:
    void setWeightText(const QString& text) override { weight = text; }
    void setRawText(const QString&) override {}
    void setRawVisible(bool v) override { raw = v; }
    bool rawVisible() const override { return raw; }
    void setStatusText(const QString&) override {}
    void appendStatusText(const QString&) override {}
    void setStableCountText(const QString&) override {}
    void setPortStatusText(const QString& text) override {
        if (statuses.isEmpty() || statuses.last() != text) statuses << text;
        portStatus = text;
    }
    void setPortToolTip(const QString&) override {}
    void setPortNumberText(const QString&) override {}
    void setPortButtonCaption(const QString& text) override { portButton = text; }
    void setCaption(const QString&) override {}
    QString caption() const override { return {}; }

    QString weight, portStatus, portButton;
    QStringList statuses;
    bool raw = false;
};

struct Served final : CoreObserver {
    void served(const QString& w) override { weights << w; }
    QStringList weights;
};

// The configured port 1 is the simulator's link.
struct PtyInstallation {
    PtyInstallation() : fakes(app.path()) {
        QFile keep(app.outFolder() + QStringLiteral("keep.txt"));
        keep.open(QIODevice::WriteOnly);
        link = app.folder.file(QStringLiteral("scale-device"));
        writeComportDevice(app.settingsPath(), 1, link);
        app.setConfig(QStringLiteral("baud"), 19200);
        core.setObserver(&observer);
    }
    AppFolder app;
    FakeServices fakes;
    QtEventPump events;
    // Retries ten times as often as in the program: the test waits by condition, this only shortens it.
    QtTimerService timers{0.1};
    QtSerialPort port{settingsDeviceResolver(app.settingsPath())};
    Services services{fakes.clock,     fakes.prompts, events,    timers,      fakes.sound, fakes.shell,
                      fakes.clipboard, port,          fakes.dde, fakes.files, app.path()};
    Settings settings;
    RecordingView view;
    WeighingCore core{services, settings, view};
    Served observer;
    QString link;
};

}  // namespace

TEST(PortReturn, HundredUnplugsAndReplugsOnARealPty) {
    PtyInstallation in;
    SimProcess sim;
    // At 19200 baud: a reopen with any other speed would read garbage, never the weight.
    ASSERT_TRUE(sim.start(in.link, {"--weight", "1234", "--rate", "50", "--settings", "19200,n,8,1"}));
    in.core.OpenSerialPort();
    ASSERT_TRUE(in.core.isPortOpen()) << in.fakes.prompts.log.join('|').toStdString();
    ASSERT_TRUE(waitFor([&] { return in.view.weight == QLatin1String("1234"); }));

    constexpr int kCycles = 100;
    for (int i = 0; i < kCycles; ++i) {
        in.view.statuses.clear();
        ASSERT_TRUE(sim.ok(QStringLiteral("unplug"))) << "cycle " << i;
        ASSERT_TRUE(waitFor([&] { return in.view.portStatus == QLatin1String("PORT OFF !"); }))
            << "cycle " << i;
        ASSERT_TRUE(sim.ok(QStringLiteral("replug"))) << "cycle " << i;
        ASSERT_TRUE(waitFor([&] { return in.view.weight == QLatin1String("1234"); })) << "cycle " << i;
        EXPECT_EQ(in.view.statuses, (QStringList{"PORT OFF !", "PORT ON"})) << "cycle " << i;
        EXPECT_EQ(in.view.portButton, QStringLiteral("Close port"));
    }
    EXPECT_EQ(in.fakes.prompts.log, QStringList{});
    EXPECT_EQ(in.port.settingsText(), QStringLiteral("19200,n,8,1"));

    // Weighing goes on: the truck leaves, the next one is served.
    ASSERT_TRUE(sim.ok(QStringLiteral("weight 0")));
    ASSERT_TRUE(waitFor([&] { return !in.core.cycle().served; }));
    ASSERT_TRUE(sim.ok(QStringLiteral("weight 2000")));
    ASSERT_TRUE(waitFor([&] { return in.observer.weights.contains(QStringLiteral("2000")); }));
    EXPECT_EQ(in.app.weightLogRows(), in.observer.weights.size());

    // Closed by the operator, a replugged device stays closed.
    in.core.closePortByButton();
    ASSERT_TRUE(sim.ok(QStringLiteral("unplug")));
    ASSERT_TRUE(sim.ok(QStringLiteral("replug")));
    const int served = in.observer.weights.size();
    ASSERT_TRUE(sim.ok(QStringLiteral("weight 0")));
    ASSERT_TRUE(sim.ok(QStringLiteral("weight 3000")));
    // A good many retry intervals pass (by events, not by a sleep): the port stays closed.
    QDeadlineTimer quiet(2000);
    waitFor([&] { return quiet.hasExpired(); }, 5000);
    EXPECT_FALSE(in.core.isPortOpen());
    EXPECT_EQ(in.observer.weights.size(), served);
    EXPECT_EQ(in.view.portStatus, QStringLiteral("PORT OFF !"));
}
