#pragma once
// The notification-area icon (QSystemTrayIcon behind it). Activation reasons are mapped onto the icon's
// mouse messages: double-click -> left double-click, context -> right button up, trigger -> left button up.

#include <QObject>
#include <QString>

namespace veltrane {

enum class TrayMessage { LButtonDown, LButtonUp, LButtonDblClk, RButtonDown, RButtonUp, RButtonDblClk };

class TrayIcon : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~TrayIcon() override = default;
    // False when the desktop has no notification area.
    virtual bool available() const = 0;
    virtual bool add() = 0;
    virtual bool remove() = 0;
    virtual bool isShown() const = 0;
    // An empty or unreadable file leaves the icon without an image.
    virtual void setIconFile(const QString& path) = 0;
    virtual void setToolTip(const QString& tip) = 0;
    virtual QString toolTip() const = 0;
    // False where the desktop reports a click on the icon only as one activation (LButtonUp) and never
    // as a double-click, as StatusNotifierItem trays over D-Bus do.
    virtual bool reportsDoubleClick() const = 0;
    // The icon's context menu: one entry with this caption, which asks for the window (showRequested).
    virtual void setShowEntry(const QString& caption) = 0;
    // A second entry after it, which asks for the program's identity (aboutRequested).
    virtual void setAboutEntry(const QString& caption) { (void)caption; }

Q_SIGNALS:
    void message(veltrane::TrayMessage message);
    void showRequested();
    void aboutRequested();
};

}  // namespace veltrane
