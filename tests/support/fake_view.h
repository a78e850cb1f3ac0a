#pragma once
// A main window in memory that records what the logic shows in its boxes, and what a reload of the
// settings does to them.

#include "config/loader.h"
#include "core/main_view.h"

#include <QStringList>

namespace veltrane::test {

class FakeView final : public MainView, public LoaderView {
public:
    void setWeightText(const QString& text) override { weight = text; }
    void setRawText(const QString& text) override { raw = text; }
    void setRawVisible(bool v) override { rawShown = v; }
    bool rawVisible() const override { return rawShown; }
    void setStatusText(const QString& text) override { status = text; }
    void appendStatusText(const QString& text) override { status += text; }
    void setStableCountText(const QString& text) override { stableCount = text; }
    void setPortStatusText(const QString& text) override { portStatuses << (portStatus = text); }
    void setPortToolTip(const QString& text) override { portToolTip = text; }
    void setPortNumberText(const QString& text) override { portNumber = text; }
    void setPortButtonCaption(const QString& text) override { portButton = text; }
    void setCaption(const QString& text) override { captions << (windowCaption = text); }
    QString caption() const override { return windowCaption; }

    bool portIsOpen() override { return portOpen; }
    void closePortForReload() override { portOpen = false, reload << QStringLiteral("close"); }
    void setPortSettingsText(const QString& text) override { reload << QStringLiteral("settings: ") + text; }
    void setDdeTopic(const QString& topic) override { reload << QStringLiteral("topic: ") + topic; }

    QString weight, raw, status, stableCount, portStatus = QStringLiteral("PORT OFF"), portToolTip,
                                              portNumber, portButton = QStringLiteral("Open port"),
                                              windowCaption;
    QStringList captions;      // every caption set, in order
    QStringList portStatuses;  // every port status shown, in order: a storm of them would show
    QStringList reload;        // "close", "settings: <text>", "topic: <topic>", in order
    bool rawShown = false;
    bool portOpen = false;
};

}  // namespace veltrane::test
