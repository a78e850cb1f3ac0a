#pragma once
// Services that act on nothing, for measuring the core alone.

#include "core/inert_services.h"
#include "core/main_view.h"
#include "platform/services.h"

#include <QDateTime>

namespace veltrane::bench {

class ManualClock final : public Clock {
public:
    QDateTime now() const override { return m_now; }
    void advanceSeconds(int s) { m_now = m_now.addSecs(s); }

private:
    QDateTime m_now{QDate(2026, 3, 14), QTime(9, 30, 0)};
};

class SilentPrompts final : public Prompts {
public:
    void message(const QString&, MessageIcon, const QString&) override { ++messages; }
    bool askYesNo(const QString&, const QString&) override {
        ++messages;
        return false;
    }
    QString input(const QString&, const QString&, const QString&) override { return {}; }
    void beep() override {}
    void setPointer(Pointer) override {}
    int messages = 0;
};

using inert::NoClipboard;
using inert::NoEvents;
using inert::NoFeed;
using inert::NoPort;
using inert::NoShell;
using inert::NoSound;
using inert::NoView;
using IdleTimers = inert::Timers;

}  // namespace veltrane::bench
