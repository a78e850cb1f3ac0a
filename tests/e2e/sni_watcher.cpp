// sni-watcher: the StatusNotifierWatcher that a desktop panel (KDE Plasma, XFCE, LXQt, Cinnamon, GNOME with
// AppIndicator) keeps on the session bus, with a host registered: with it there, Qt puts its tray icons on
// D-Bus instead of XEmbed. Prints "item <bus name> <object path>" for each icon that registers, so that a
// test can click it as the panel would.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>

#include <cstdio>

namespace {

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)

public:
    bool hostRegistered() const { return true; }

public Q_SLOTS:
    // An item names its bus name (its object is then /StatusNotifierItem) or its object path.
    void RegisterStatusNotifierItem(const QString& serviceOrPath, const QDBusMessage& call) {
        const bool isPath = serviceOrPath.startsWith(QLatin1Char('/'));
        std::printf("item %s %s\n", qPrintable(isPath ? call.service() : serviceOrPath),
                    isPath ? qPrintable(serviceOrPath) : "/StatusNotifierItem");
        std::fflush(stdout);
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher;
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
        !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
        std::fprintf(stderr, "sni-watcher: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "sni_watcher.moc"
