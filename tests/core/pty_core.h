#pragma once
// The weighing core as the program runs it on a pseudo-terminal: a real application folder whose port 1
// is the simulator's link, the real serial port, Qt's events and timers. Prompts, clock and the outputs
// to other programs are fakes.

#include "config/comports.h"
#include "platform/qt_serial_port.h"
#include "tests/core/core_fixture.h"
#include "tests/support/sim_process.h"

namespace veltrane::test {

struct PtyCore {
    // A timer scale below 1 shortens the program's retry intervals; the tests wait by condition anyway.
    explicit PtyCore(double timerScale = 1) : fakes(app.path()), timers(timerScale) {
        writeComportDevice(app.settingsPath(), 1, link);
        core.setObserver(&observer);
    }
    bool startSim(const QStringList& args) { return sim.start(args + QStringList{"--link", link}); }
    QByteArray csv() const { return readFile(app.outFolder() + QStringLiteral("veltrane.csv")); }

    AppFolder app;
    FakeServices fakes;
    QString link = app.folder.file(QStringLiteral("scale-device"));
    QtEventPump events;
    QtTimerService timers;
    QtSerialPort port{settingsDeviceResolver(app.settingsPath())};
    Services services{fakes.clock,     fakes.prompts, events,    timers,      fakes.sound, fakes.shell,
                      fakes.clipboard, port,          fakes.dde, fakes.files, app.path()};
    Settings settings;
    FakeView view;
    WeighingCore core{services, settings, view};
    Served observer;
    SimProcess sim;  // last: it goes first, before the port that reads it
};

}  // namespace veltrane::test
