#pragma once
// A notification area in memory: whether the desktop has one, and what the icon shows.

#include "platform/tray.h"

namespace veltrane::test {

class FakeTrayIcon final : public TrayIcon {
public:
    bool available() const override { return hasTray; }
    bool add() override {
        if (!hasTray) return false;
        shown = true;
        shownTip = tip;
        return true;
    }
    bool remove() override {
        const bool was = shown;
        shown = false;
        return was;
    }
    bool isShown() const override { return shown; }
    void setIconFile(const QString& path) override { iconFile = path; }
    void setToolTip(const QString& t) override {
        tip = t;
        if (shown) shownTip = t;
    }
    QString toolTip() const override { return tip; }
    bool reportsDoubleClick() const override { return doubleClicks; }
    void setShowEntry(const QString&) override {}
    void send(TrayMessage m) { Q_EMIT message(m); }

    bool hasTray = true;
    bool doubleClicks = true;  // an XEmbed tray; false: a StatusNotifierItem panel (single activations only)
    bool shown = false;
    QString tip;
    QString shownTip;
    QString iconFile;
};

}  // namespace veltrane::test
