#pragma once

#include "platform/tray.h"

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

private:
    void activated(QSystemTrayIcon::ActivationReason reason);
    QSystemTrayIcon m_icon;
};

}  // namespace veltrane
