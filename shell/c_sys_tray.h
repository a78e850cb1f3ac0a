#pragma once
// The notification-area icon of one window, its source window: add, change and remove the icon, and
// turn the icon's mouse messages into events and into the default double-click (restore the window).
// Where the desktop's tray never reports a double-click, a single activation is the default double-click;
// the icon's context menu offers "Show Veltrane" on every desktop.

#include "platform/tray.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace veltrane {

class CSysTray : public QObject {
    Q_OBJECT
public:
    // The tip field holds at most this many characters before its terminator.
    static constexpr int kTipLength = 63;
    static constexpr const char* kShowEntry = "Show Veltrane";

    explicit CSysTray(TrayIcon& icon, QObject* parent = nullptr);
    ~CSysTray() override;

    void setToolTip(const QString& sData) { ChangeToolTip(sData); }
    QString ToolTip() const { return m_toolTip; }
    void setDefaultDblClk(bool bData) { m_defaultDblClk = bData; }
    bool DefaultDblClk() const { return m_defaultDblClk; }
    void setSourceWindow(QWidget* frmData);
    QWidget* SourceWindow() const { return m_source; }

    void RemoveFromSysTray();
    void IconInSysTray();
    // Without a notification area on the desktop the window goes to the task bar instead: hiding it
    // there would leave the program with no way back.
    void MinToSysTray();
    void ChangeIcon(const QString& sIconPath);
    void ChangeToolTip(const QString& sNewTip);

    // The text the icon shows: the tooltip cut to the tip field.
    QString shownTip() const { return m_toolTip.left(kTipLength); }
    QString iconPath() const { return m_iconPath; }
    bool inTray() const { return m_icon.isShown(); }

Q_SIGNALS:
    void LButtonDblClk();
    void LButtonDown();
    void LButtonUp();
    void RButtonDblClk();
    void RButtonDown();
    void RButtonUp();

private:
    void HookSourceWindow();
    void DefaultDoubleClick();
    void restoreSourceWindow();
    void iconMessage(TrayMessage message);

    TrayIcon& m_icon;
    QString m_toolTip;
    QString m_iconPath;
    bool m_defaultDblClk = true;
    QPointer<QWidget> m_source;
    QPointer<QWidget> m_hooked;
    bool m_busy = false;
};

}  // namespace veltrane
