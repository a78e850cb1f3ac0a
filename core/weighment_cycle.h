#pragma once
// The weighment cycle: when a reading is a weighment to serve, and when the platform is empty again.

#include "config/settings.h"

#include <QDateTime>
#include <QString>

#include <cstdint>

namespace veltrane {

class WeighmentCycle {
public:
    // State, public as the design keeps it program-wide.
    std::int16_t stableCount = 0;
    double previousRounded = 0.0;
    bool served = false;
    bool serving = false;  // the main window's serving flag
    QDateTime lastRecordTime;
};

}  // namespace veltrane
