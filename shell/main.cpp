// Veltrane: wires the real services into the main window and runs it.

#include "config/comports.h"
#include "config/settings.h"
#include "core/weighing_core.h"
#include "feeds/feed_hub.h"
#include "feeds/http/http_feed.h"
#include "feeds/mqtt/mqtt_feed.h"
#include "platform/clock.h"
#include "platform/dde.h"
#include "platform/event_pump.h"
#include "platform/gui/desktop_shell_open.h"
#include "platform/gui/message_box_prompts.h"
#include "platform/gui/qt_clipboard.h"
#include "platform/gui/qt_tray_icon.h"
#include "platform/qt_serial_port.h"
#include "platform/services.h"
#include "platform/single_instance.h"
#include "platform/sound.h"
#include "platform/termination_signals.h"
#include "platform/timers.h"
#include "shell/command_line.h"
#include "shell/main_window.h"

#include <QApplication>

#include <cstdio>
#include <optional>

int main(int argc, char* argv[]) {
    if (const std::optional<int> answered = veltrane::answerCommandLine(argc, argv)) return *answered;
    QApplication app(argc, argv);
    if (const int refused = veltrane::refuseLeftArguments(QCoreApplication::arguments())) return refused;
    app.setApplicationName(QStringLiteral("veltrane"));
    // Closing the main window ends the program even when the log viewer is still open.
    app.setQuitOnLastWindowClosed(false);
    app.setDesktopFileName(QStringLiteral("example.veltrane.Veltrane"));

    // A second copy could not open the port the first one holds: it brings the first one's window
    // forward instead.
    veltrane::SingleInstance instance(QStringLiteral("veltrane"));
    switch (instance.start()) {
        case veltrane::SingleInstance::Start::HandedOver:
            return 0;
        case veltrane::SingleInstance::Start::NotAnswering:
            std::fprintf(stderr, "veltrane: another copy is running but does not answer (%s)\n",
                         qPrintable(instance.socketPath()));
            return 1;
        case veltrane::SingleInstance::Start::First:
            break;
    }

    const QString appFolder = QCoreApplication::applicationDirPath() + QLatin1Char('/');

    veltrane::SystemClock clock;
    veltrane::MessageBoxPrompts prompts(appFolder + QStringLiteral("h_point.cur"));
    veltrane::QtEventPump events;
    veltrane::QtTimerService timers;
    veltrane::AlsaSound sound;
    veltrane::DesktopShellOpen shell;
    veltrane::QtClipboard clipboard;
    veltrane::QtSerialPort port(
        veltrane::settingsDeviceResolver(appFolder + QLatin1String(veltrane::kSettingsDatabaseName)));
    std::unique_ptr<veltrane::DdeServer> dde = veltrane::createLocalDdeServer(QStringLiteral("veltrane"));
    veltrane::PosixFiles files;
    veltrane::Services services{clock,     prompts, events, timers, sound,    shell,
                                clipboard, port,    *dde,   files,  appFolder};

    veltrane::Settings settings;
    veltrane::QtTrayIcon trayIcon;
    veltrane::MainWindow window(services, settings, trayIcon);
    prompts.setParentWindow(&window);
    QObject::connect(dde.get(), &veltrane::DdeServer::unavailable, &window,
                     &veltrane::MainWindow::setStatusText);
    // The same path as the tray menu's "Show Veltrane": the window comes back on every desktop.
    QObject::connect(&instance, &veltrane::SingleInstance::showRequested, &trayIcon,
                     &veltrane::TrayIcon::showRequested);
    const auto statusNote = [&window](const QString& note) { window.setStatusText(note); };
    // Feeds outlive the hub, which removes them from the core.
    veltrane::MqttFeed mqtt(appFolder + QLatin1String(veltrane::kSettingsDatabaseName), statusNote,
                            [&window] { return window.core().isPortOpen(); });
    veltrane::HttpFeed web(
        appFolder + QLatin1String(veltrane::kSettingsDatabaseName),
        appFolder + QStringLiteral("veltrane-sample.html"), [&window] { return window.core().isPortOpen(); },
        statusNote);
    veltrane::FeedHub feeds(window.core(), *dde, appFolder + QLatin1String(veltrane::kSettingsDatabaseName),
                            statusNote);
    feeds.add(mqtt, &mqtt);
    feeds.add(web, &web);
    // The loader may ask for the end during start-up, before the event loop runs to hear an exit().
    bool ended = false;
    QObject::connect(&window, &veltrane::MainWindow::endProgram, &app, [&ended] {
        ended = true;
        QCoreApplication::exit(1);
    });
    QObject::connect(&window, &veltrane::MainWindow::closed, &app, &QCoreApplication::quit);
    // Ended by the session or the system: the same way out as the operator's Close, whatever box is
    // up. quit() alone would wait for that box (and is ignored before the event loop runs), so every
    // running loop is ended: each box that is up returns as dismissed, any box still to come returns
    // at once, and the program ends through the same destructors as after Close.
    bool terminated = false;
    veltrane::TerminationSignals termination;
    QObject::connect(&termination, &veltrane::TerminationSignals::terminationRequested, &window,
                     [&window, &terminated] {
                         terminated = true;
                         window.endOnRequest();
                         QCoreApplication::exit(0);
                     });
    // A feed whose settings did not change keeps running undisturbed.
    const auto reloadFeeds = [&feeds, &terminated] {
        if (!terminated) feeds.reload();
    };
    QObject::connect(&window, &veltrane::MainWindow::configurationClosed, &app, reloadFeeds);
    QObject::connect(&window, &veltrane::MainWindow::feedSettingsSaved, &app, reloadFeeds);

    // The feeds first: a start-up message waiting for an answer must not keep them from listening.
    feeds.reload();
    if (window.load() == veltrane::StartupResult::EndProgram || ended) return 1;
    // The event loop would run on after a stop request answered during start-up.
    if (terminated) return 0;
    return app.exec();
}
