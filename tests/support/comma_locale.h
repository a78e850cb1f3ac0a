#pragma once
// A decimal-comma locale for tests that show numbers do not follow the C library's locale.

#include <QString>

#include <clocale>

namespace veltrane::test {

// "de_DE.UTF-8" when the C library has it (scripts/setup.sh makes it); empty otherwise.
inline QString commaLocale() {
    const QByteArray previous = std::setlocale(LC_NUMERIC, nullptr);
    const bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && *std::localeconv()->decimal_point == ',';
    std::setlocale(LC_NUMERIC, previous.constData());
    return comma ? QStringLiteral("de_DE.UTF-8") : QString();
}

inline constexpr char kNoCommaLocale[] =
    "de_DE.UTF-8 is not installed: run scripts/setup.sh as root to make it";

}  // namespace veltrane::test
