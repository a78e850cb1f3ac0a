#include "core/weighment_cycle.h"

#include "config/numbers.h"

namespace veltrane {
namespace {

QString servingText(const QString& w, const Clock& clock) {
    return QStringLiteral("Serving weight ") + w + QStringLiteral(" at ") + generalDate(clock.now());
}
QString servedText(const QString& w, const Clock& clock) {
    return QStringLiteral("Served weight ") + w + QStringLiteral(" at ") + generalDate(clock.now());
}

}  // namespace

bool WeighmentCycle::WeighmentStep(float weight, const Settings& settings, CycleHost& host) {
    // Readings that arrive while an automatic serving runs (its boxes and sounds let events run) take
    // the print-button path, so one load is never served twice.
    if (settings.AutosaveonStableWeight && !serving) {
        automaticPath(weight, settings, host);
        return true;
    }
    return printButtonPath(weight, settings, host);
}

void WeighmentCycle::automaticPath(float weight, const Settings& settings, CycleHost& host) {
    const double rounded = roundHalfEven(static_cast<double>(weight), settings.StabilityCheckAccuracy);
    if (rounded != previousRounded) {
        stableCount = 0;
        host.setStableCountText(QStringLiteral("0"));
        previousRounded = rounded;
        return;
    }
    if (stableCount < kStableCountCap) ++stableCount;
    host.setStableCountText(QString::number(stableCount));
    if (stableCount < settings.minstablereadings) return;

    const QString w = numberTextSingle(weight);
    if (weight > static_cast<float>(settings.MinimumAutosaveWeight) && !served) {
        stableCount = 0;
        serving = true;
        host.setStatusText(servingText(w, host.clock()));
        host.serveWeight(w);
        served = true;
        host.setStatusText(servedText(w, host.clock()));
        serving = false;
        return;
    }
    if (weight <= settings.discardweightlessthan && !settings.Startonbutton && served) {
        stableCount = 0;
        host.setStatusText(QStringLiteral("Restarted weight serving at ") + generalDate(host.clock().now()));
        host.rearmed();
        if (settings.activateVoiceAlert) host.playTruckOut();
        served = false;
    }
}

bool WeighmentCycle::printButtonPath(float weight, const Settings& settings, CycleHost& host) {
    if (weight <= static_cast<float>(settings.MinimumAutosaveWeight) || !settings.saveonbutton) return true;

    // Whole seconds: both times truncated to the second, as the indicator's own clock would count.
    const QDateTime now = host.clock().now();
    const bool tooSoon = lastRecordTime.isValid() &&
                         now.toSecsSinceEpoch() - lastRecordTime.toSecsSinceEpoch() < kTooSoonSeconds;
    if (tooSoon) {
        host.showTooSoon(longTime(now.time()) +
                         QStringLiteral(": Weight data is coming too soon! Change your configuration!"));
        lastRecordTime = now;
        host.refused();
        return false;
    }
    lastRecordTime = now;
    const QString w = numberTextSingle(weight);
    host.setStatusText(servingText(w, host.clock()));
    host.serveWeight(w);
    host.servedByHand(w);
    served = true;
    host.setStatusText(servedText(w, host.clock()));
    host.startWeightClearTimer();
    return true;
}

}  // namespace veltrane
