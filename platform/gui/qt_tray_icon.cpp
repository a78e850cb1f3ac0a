#include "platform/gui/qt_tray_icon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>

namespace veltrane {

bool statusNotifierTrayInUse() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    // Asked only of a watcher that is running: the question must not start one.
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(watcher))
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(watcher, QStringLiteral("/StatusNotifierWatcher"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    // A watcher that does not answer within two seconds shows no icon either.
    const QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

QtTrayIcon::QtTrayIcon(QObject* parent) : TrayIcon(parent), m_statusNotifier(statusNotifierTrayInUse()) {
    connect(&m_icon, &QSystemTrayIcon::activated, this, &QtTrayIcon::activated);
    m_icon.setContextMenu(&m_menu);
}

bool QtTrayIcon::available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool QtTrayIcon::add() {
    if (!available()) return false;
    m_icon.show();
    return true;
}

bool QtTrayIcon::remove() {
    if (!m_icon.isVisible()) return false;
    m_icon.hide();
    return true;
}

bool QtTrayIcon::isShown() const {
    return m_icon.isVisible();
}

void QtTrayIcon::setIconFile(const QString& path) {
    // A missing or unreadable file leaves the icon without an image rather than keeping the old one.
    m_icon.setIcon(QFileInfo(path).isFile() ? QIcon(path) : QIcon());
}

void QtTrayIcon::setToolTip(const QString& tip) {
    m_icon.setToolTip(tip);
}

QString QtTrayIcon::toolTip() const {
    return m_icon.toolTip();
}

void QtTrayIcon::setShowEntry(const QString& caption) {
    m_menu.clear();
    connect(m_menu.addAction(caption), &QAction::triggered, this, &TrayIcon::showRequested);
}

void QtTrayIcon::setAboutEntry(const QString& caption) {
    connect(m_menu.addAction(caption), &QAction::triggered, this, &TrayIcon::aboutRequested);
}

void QtTrayIcon::activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::DoubleClick:
            Q_EMIT message(TrayMessage::LButtonDblClk);
            break;
        case QSystemTrayIcon::Context:
            Q_EMIT message(TrayMessage::RButtonUp);
            break;
        case QSystemTrayIcon::Trigger:
            Q_EMIT message(TrayMessage::LButtonUp);
            break;
        case QSystemTrayIcon::MiddleClick:
        case QSystemTrayIcon::Unknown:
            break;
    }
}

}  // namespace veltrane
