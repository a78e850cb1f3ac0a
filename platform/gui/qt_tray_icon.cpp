#include "platform/gui/qt_tray_icon.h"

#include <QFileInfo>
#include <QIcon>

namespace veltrane {

QtTrayIcon::QtTrayIcon(QObject* parent) : TrayIcon(parent) {
    connect(&m_icon, &QSystemTrayIcon::activated, this, &QtTrayIcon::activated);
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
