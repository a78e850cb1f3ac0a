#include "config/settings.h"

#include <array>
#include <utility>

namespace veltrane {

int delimiterCodeOf(const QString& name) {
    static const std::array<std::pair<const char*, int>, 12> table{{
        {"SPACE", 32},
        {"CR", 13},
        {"=", 61},
        {"LF", 10},
        {"ETB", 23},
        {"ETX", 3},
        {"]", 93},
        {";", 59},
        {",", 44},
        {"}", 125},
        {")", 41},
        {"+", 43},
    }};
    for (const auto& [entry, code] : table) {
        if (name == QLatin1String(entry)) return code;
    }
    return -1;
}

std::int32_t decimalDivisorFor(std::int64_t places) {
    if (places < 1 || places > 8) return 1;
    std::int32_t divisor = 1;
    for (std::int64_t i = 0; i < places; ++i) divisor *= 10;
    return divisor;
}

void setWeightPositions(Settings& settings, int start, int end) {
    if (end <= 0) end = 100;
    if (start > end || start < 1) start = 1;
    settings.weightstart = static_cast<std::int16_t>(start);
    settings.weightLength = static_cast<std::int16_t>(end - start + 1);
}

}  // namespace veltrane
