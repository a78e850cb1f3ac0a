#pragma once
// The weighment cycle: when a reading is a weighment to serve, and when the platform is empty again.

#include "config/settings.h"
#include "platform/clock.h"

#include <QDateTime>
#include <QString>

#include <cstdint>

namespace veltrane {

// What the cycle needs from the main window and the outputs.
class CycleHost {
public:
    virtual ~CycleHost() = default;
    virtual const Clock& clock() const = 0;
    // Textstatus.
    virtual void setStatusText(const QString& text) = 0;
    // stablecounttxt.
    virtual void setStableCountText(const QString& text) = 0;
    // Textindi: the too-soon warning, made visible.
    virtual void showTooSoon(const QString& text) = 0;
    // ServeWeight: every output channel, then the announcement.
    virtual void serveWeight(const QString& weightText) = 0;
    // Timerweightclear: empties the weight box 15 seconds later.
    virtual void startWeightClearTimer() = 0;
    // The truck-out announcement (PlayWave of the voice prompt file).
    virtual void playTruckOut() = 0;
    virtual void rearmed() {}
    // A serving through the print-button path, after its outputs.
    virtual void servedByHand(const QString& weightText) { (void)weightText; }
    virtual void refused() {}
};

class WeighmentCycle {
public:
    // State kept from one reading to the next; the main window's buttons and the tools read it.
    std::int16_t stableCount = 0;
    double previousRounded = 0.0;
    bool served = false;
    bool serving = false;  // the main window's serving flag
    QDateTime lastRecordTime;

    static constexpr std::int16_t kStableCountCap = 5000;
    static constexpr qint64 kTooSoonSeconds = 20;

    // One decoded reading. False when the reading was refused as too soon (the decoder then keeps its
    // receive buffer).
    bool WeighmentStep(float weight, const Settings& settings, CycleHost& host);

    // The "New weighment" button: with Startonbutton on nothing else clears the served flag.
    void rearmByHand() { served = false; }

private:
    void automaticPath(float weight, const Settings& settings, CycleHost& host);
    bool printButtonPath(float weight, const Settings& settings, CycleHost& host);
};

}  // namespace veltrane
