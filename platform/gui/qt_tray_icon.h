#pragma once

#include "platform/tray.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace veltrane {

class QtTrayIcon final : public TrayIcon {
    Q_OBJECT
public:
    explicit QtTrayIcon(QObject* parent = nullptr);
    bool available() const override;
    bool add() override;
    bool remove() override;
    bool isShown() const override;
    void setIconFile(const QString& path) override;
    void setToolTip(const QString& tip) override;
    QString toolTip() const override;
    bool reportsDoubleClick() const override { return !m_statusNotifier; }
    void setShowEntry(const QString& caption) override;
    void setAboutEntry(const QString& caption) override;

private:
    void activated(QSystemTrayIcon::ActivationReason reason);
    // Decided before m_icon is made, as Qt decides which tray the icon uses when it is made.
    bool m_statusNotifier;
    QMenu m_menu;
    QSystemTrayIcon m_icon;
};

// True when Qt's tray icon goes over D-Bus (the StatusNotifierItem protocol) rather than XEmbed.
// Qt takes the D-Bus tray when a StatusNotifierWatcher on the session bus reports a host; off X11
// there is no XEmbed tray, so any tray there is the D-Bus one.
bool statusNotifierTrayInUse();

}  // namespace veltrane
