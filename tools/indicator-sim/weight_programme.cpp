#include "tools/indicator-sim/weight_programme.h"

#include <QStringList>

#include <cmath>

namespace veltrane::sim {

std::optional<WeightProgramme> WeightProgramme::parse(const QString& text, QString* error) {
    WeightProgramme p;
    for (const QString& item : text.split(u',', Qt::SkipEmptyParts)) {
        const QStringList parts = item.trimmed().split(u':');
        bool okW = false, okS = false, okT = true;
        ProgrammeStep s;
        if (parts.size() >= 2 && parts.size() <= 3) {
            s.weight = parts[0].toDouble(&okW);
            s.seconds = parts[1].toDouble(&okS);
            if (parts.size() == 3) s.settle = parts[2].toDouble(&okT);
        }
        if (!okW || !okS || !okT || s.seconds <= 0 || (parts.size() == 3 && s.settle < 0)) {
            if (error)
                *error = QStringLiteral("bad programme step \"%1\" (weight:seconds[:settle], seconds > 0)")
                             .arg(item);
            return std::nullopt;
        }
        p.steps.push_back(s);
    }
    if (p.steps.empty()) {
        if (error) *error = QStringLiteral("the programme \"%1\" has no steps").arg(text);
        return std::nullopt;
    }
    return p;
}

WeightProgramme WeightProgramme::truckCycle(double loaded) {
    WeightProgramme p;
    p.noise = std::max(1.0, std::fabs(loaded) * 0.01);
    p.steps = {
        {0, 4, 0},                 // empty platform
        {loaded * 0.3, 1.0, 1.0},  // front axle drives on
        {loaded * 0.7, 1.0, 1.0},  // rear axles follow
        {loaded, 3, 3},            // on the platform, still rocking
        {loaded, 8, 0},            // stable: the reading to serve
        {loaded * 0.6, 1.0, 1.0},  // driving off
        {loaded * 0.2, 1.0, 1.0},
        {0, 4, 0},  // empty again
    };
    return p;
}

WeightProgramme WeightProgramme::fixed(double weight) {
    WeightProgramme p;
    p.steps = {{weight, 3600, 0}};
    p.loop = true;
    return p;
}

double WeightProgramme::length() const {
    double total = 0;
    for (const ProgrammeStep& s : steps) total += s.seconds;
    return total;
}

WeightSample WeightProgramme::at(double seconds) const {
    if (steps.empty()) return {};
    const double total = length();
    double t = std::max(0.0, seconds);
    if (t >= total) {
        if (!loop) return {steps.back().weight, true};
        t = std::fmod(t, total);
    }
    for (const ProgrammeStep& s : steps) {
        if (t >= s.seconds) {
            t -= s.seconds;
            continue;
        }
        const double settleTime = s.settle >= 0 ? s.settle : settle;
        if (t >= settleTime || noise <= 0) return {s.weight, t >= settleTime};
        // A deterministic hash of the time in tenths stands in for the rocking of the platform.
        auto tick = static_cast<std::uint64_t>(seconds * 10);
        tick = (tick ^ (tick >> 33)) * 0xff51afd7ed558ccdULL;
        tick ^= tick >> 29;
        const double unit = static_cast<double>(tick % 2001) / 1000.0 - 1.0;  // -1 .. 1
        const double decay = 1.0 - t / settleTime;
        return {s.weight + noise * decay * unit, false};
    }
    return {steps.back().weight, true};
}

}  // namespace veltrane::sim
