#include "core/voice.h"

#include "config/numbers.h"

#include <QFileInfo>

#include <cmath>
#include <stdexcept>

namespace veltrane {
namespace {

constexpr std::int64_t kScale = 10000;  // four decimal places

struct Group {
    std::int64_t unit;
    const char* word;
};
constexpr Group kGroups[] = {
    {1000000000000LL, "trillion"},
    {1000000000LL, "billion"},
    {1000000LL, "million"},
    {1000LL, "thousand"},
    {1LL, nullptr},
};

}  // namespace

bool Voice::toCurrency(const QString& text, std::int64_t* value) {
    const double v = leadingNumberValue(text);
    if (!std::isfinite(v) || std::fabs(v) >= 922337203685478.0) return false;
    // Whole part and fraction apart: whole parts up to 2^53 are exact, their product with 10^4 is not.
    const double whole = std::trunc(v);
    // Round half to even, as the conversion to a currency value does.
    const auto fraction = static_cast<std::int64_t>(std::nearbyint((v - whole) * kScale));
    const std::int64_t scaledWhole = static_cast<std::int64_t>(whole) * kScale;
    std::int64_t result = 0;
    if (__builtin_add_overflow(scaledWhole, fraction, &result)) return false;
    *value = result;
    return true;
}

void Voice::AnnounceWeight(const QString& weightText) {
    if (m_settings.voicealertnormal) {
        if (weightText.size() > 10) return;
        for (const QChar ch : weightText) {
            m_services.events.processEvents();
            const QString word = ch == QLatin1Char('.') ? QStringLiteral("point") : QString(ch);
            m_services.events.processEvents();
            // Digits are played without looking for the file first; a missing one is silent anyway.
            playWord(word, false);
        }
        return;
    }
    std::int64_t value = 0;
    if (!toCurrency(weightText, &value)) throw std::overflow_error("Overflow");
    SayNumber(value);
}

void Voice::SayNumber(std::int64_t value) {
    for (const Group& g : kGroups) {
        const std::int64_t unit = g.unit * kScale;
        if (value < unit) continue;
        const std::int64_t n = value / unit;
        SayHundreds(static_cast<std::int16_t>(n));
        if (g.word) playWord(QString::fromLatin1(g.word), true);
        value -= n * unit;
    }
}

void Voice::SayHundreds(std::int16_t n) {
    const int h = n / 100;
    const int r = n - 100 * h;
    if (h >= 1) {
        playWord(QString::number(h), true);
        playWord(QStringLiteral("hundred"), true);
    }
    if (r > 0) playWord(QString::number(r), true);
}

void Voice::PlayWave(const QString& path) {
    if (m_onSay) m_onSay(QFileInfo(path).fileName());
    if (m_silent || !QFileInfo(path).isFile()) return;
    m_services.sound.play(path);
}

void Voice::playWord(const QString& word, bool onlyIfPresent) {
    const QString path = m_services.appFolder + word + QStringLiteral(".wav");
    if (onlyIfPresent) {
        PlayWave(path);
        return;
    }
    if (m_onSay) m_onSay(word + QStringLiteral(".wav"));
    if (!m_silent) m_services.sound.play(path);
}

}  // namespace veltrane
