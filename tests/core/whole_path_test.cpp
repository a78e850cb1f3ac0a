// The whole receive path with real parts: the indicator simulator on a pty, Qt SerialPort, the core,
// the CSV file and weight log on disk, and a live-feed client on the local socket.

#include "config/comports.h"
#include "core/weighing_core.h"
#include "core/weighment_cycle.h"
#include "feeds/feed_hub.h"
#include "platform/qt_serial_port.h"
#include "tests/core/core_fixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QProcess>

#include <gtest/gtest.h>

#include <functional>

using namespace veltrane;
using namespace veltrane::test;

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 30000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

struct Served final : CoreObserver {
    void served(const QString& w) override { weights << w; }
    void refused() override { ++refusals; }
    QStringList weights;
    int refusals = 0;
};

// Veltrane's core on a real application folder, its port 1 the simulator's device.
struct Installation {
    explicit Installation(const QStringList& simArgs) : fakes(app.path()) {
        QFile keep(app.outFolder() + QStringLiteral("keep.txt"));
        keep.open(QIODevice::WriteOnly);

        link = runtime.file(QStringLiteral("scale-device"));
        sim.start(qEnvironmentVariable("VELTRANE_APP_DIR") + QStringLiteral("/indicator-sim"),
                  simArgs + QStringList{"--link", link});
        simStarted = sim.waitForStarted(10000) && waitFor([&] { return sim.canReadLine(); });
        if (simStarted) sim.readLine();
        writeComportDevice(app.settingsPath(), 1, link);
        core.setObserver(&observer);
    }
    ~Installation() {
        sim.terminate();
        sim.waitForFinished(5000);
    }
    QString simCommand(const QString& line) {
        sim.write(line.toUtf8() + '\n');
        if (!waitFor([&] { return sim.canReadLine(); })) return {};
        return QString::fromLocal8Bit(sim.readLine()).trimmed();
    }
    bool advise() {
        client.connectToServer(ddeSocketPath(QStringLiteral("veltrane")));
        if (!client.waitForConnected(5000)) return false;
        client.write("ADVISE veltrane weightdata\n");
        return true;
    }
    QStringList feedLines() {
        while (client.canReadLine()) lines << QString::fromUtf8(client.readLine()).trimmed();
        return lines;
    }
    QByteArray csv() const { return readFile(app.outFolder() + QStringLiteral("veltrane.csv")); }

    TempFolder runtime;
    // The live feed's socket goes to a runtime folder of this test's own.
    bool runtimeSet = qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    AppFolder app;
    FakeServices fakes;
    std::unique_ptr<DdeServer> feed = createLocalDdeServer(QStringLiteral("veltrane"));
    QtEventPump events;
    QtTimerService timers;
    QtSerialPort port{settingsDeviceResolver(app.settingsPath())};
    Services services{fakes.clock, fakes.prompts,   events, timers, fakes.sound,
                      fakes.shell, fakes.clipboard, port,   *feed,  app.path()};
    Settings settings;
    FakeView view;
    WeighingCore core{services, settings, view};
    FeedHub feeds{core, *feed, app.settingsPath(), {}};
    Served observer;
    QProcess sim;
    QString link;
    bool simStarted = false;
    QLocalSocket client;
    QStringList lines;
};

}  // namespace

TEST(WholePath, AutomaticModeServesEachTruck) {
    Installation in({"--weight", "1234", "--rate", "50"});
    ASSERT_TRUE(in.simStarted);
    ASSERT_EQ(in.core.loadConfiguration(), LoadResult::Completed);
    ASSERT_TRUE(in.advise());
    in.core.OpenSerialPort();
    ASSERT_TRUE(in.core.isPortOpen()) << in.fakes.prompts.log.join('|').toStdString();
    EXPECT_EQ(in.view.portStatus, QStringLiteral("PORT ON"));

    ASSERT_TRUE(waitFor([&] { return in.observer.weights.size() == 1; }));
    EXPECT_EQ(in.observer.weights, QStringList{"1234"});
    EXPECT_TRUE(in.csv().startsWith("Weight,Datetime\r\n1234,2026-03-14 09:30:00\r\n"));
    EXPECT_EQ(in.app.weightLogRows(), 1);
    ASSERT_TRUE(waitFor([&] { return in.feedLines().contains(QStringLiteral("DATA 1234")); }, 3000))
        << in.lines.join(QLatin1Char('|')).toStdString();

    // The truck drives off and the next one on: re-armed on the empty platform, then served.
    ASSERT_EQ(in.simCommand(QStringLiteral("weight 0")).left(2), QStringLiteral("ok"));
    ASSERT_TRUE(waitFor([&] { return in.feedLines().contains(QStringLiteral("DATA 0")); }));
    ASSERT_TRUE(waitFor([&] { return !in.core.cycle().served; }));
    ASSERT_EQ(in.simCommand(QStringLiteral("weight 2000")).left(2), QStringLiteral("ok"));
    ASSERT_TRUE(waitFor([&] { return in.observer.weights.size() == 2; }));
    EXPECT_EQ(in.observer.weights, (QStringList{"1234", "2000"}));
    EXPECT_TRUE(in.csv().startsWith("Weight,Datetime\r\n2000,"));
    EXPECT_EQ(in.app.weightLogRows(), 2);
    ASSERT_TRUE(waitFor([&] { return in.feedLines().contains(QStringLiteral("DATA 2000")); }));
    EXPECT_TRUE(in.fakes.prompts.log.isEmpty()) << in.fakes.prompts.log.join('|').toStdString();
}

TEST(WholePath, PrintButtonModeServesEachPrint) {
    Installation in({"--mode", "print", "--weight", "880"});
    ASSERT_TRUE(in.simStarted);
    in.app.setConfig(QStringLiteral("AutosaveonStableWeight"), false);
    in.app.setConfig(QStringLiteral("saveonbutton"), true);
    in.app.setConfig(QStringLiteral("simpinterface"), false);
    in.app.setConfig(QStringLiteral("delimiter"), QStringLiteral("LF"));
    in.app.setConfig(QStringLiteral("weightstart"), 7);
    in.app.setConfig(QStringLiteral("weightend"), 13);
    ASSERT_TRUE(in.advise());
    in.core.OpenSerialPort();
    ASSERT_TRUE(in.core.isPortOpen()) << in.fakes.prompts.log.join('|').toStdString();
    in.core.setLastRecordTime(in.fakes.clock.now().addSecs(-60));

    ASSERT_EQ(in.simCommand(QStringLiteral("print")).left(2), QStringLiteral("ok"));
    ASSERT_TRUE(waitFor([&] { return in.observer.weights.size() == 1; }));
    EXPECT_EQ(in.observer.weights, QStringList{"880"});
    EXPECT_EQ(in.app.weightLogRows(), 1);
    ASSERT_TRUE(waitFor([&] { return in.feedLines().contains(QStringLiteral("DATA 880")); }));

    // A second print at once is refused as too soon; 20 seconds later it is served.
    ASSERT_EQ(in.simCommand(QStringLiteral("weight 990")).left(2), QStringLiteral("ok"));
    ASSERT_EQ(in.simCommand(QStringLiteral("print")).left(2), QStringLiteral("ok"));
    ASSERT_TRUE(waitFor([&] { return in.observer.refusals == 1; }));
    in.fakes.clock.advanceSeconds(20);
    ASSERT_EQ(in.simCommand(QStringLiteral("print")).left(2), QStringLiteral("ok"));
    ASSERT_TRUE(waitFor([&] { return in.observer.weights.size() == 2; }));
    EXPECT_EQ(in.observer.weights, (QStringList{"880", "990"}));
    EXPECT_TRUE(in.csv().startsWith("Weight,Datetime\r\n990,2026-03-14 09:30:20\r\n"));
    EXPECT_EQ(in.app.weightLogRows(), 2);

    // The weight box empties 15 seconds after a print-button serving, and the feed hears it.
    EXPECT_TRUE(in.core.timerWeightClear().isEnabled());
}
