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
#include "shell/main_window.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
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
    // Ended by the session or the system: the same way out as the operator's Close.
    veltrane::TerminationSignals termination;
    QObject::connect(&termination, &veltrane::TerminationSignals::terminationRequested, &window,
                     &QWidget::close);
    // A feed whose settings did not change keeps running undisturbed.
    QObject::connect(&window, &veltrane::MainWindow::configurationClosed, &app, [&feeds] { feeds.reload(); });
    QObject::connect(&window, &veltrane::MainWindow::feedSettingsSaved, &app, [&feeds] { feeds.reload(); });

    // The feeds first: a start-up message waiting for an answer must not keep them from listening.
    feeds.reload();
    if (window.load() == veltrane::StartupResult::EndProgram || ended) return 1;
    return app.exec();
}
