#pragma once
// Voice announcement: a served weight spoken from recorded word files, digit by digit or in words.

#include "config/settings.h"
#include "platform/services.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace veltrane {

class Voice {
public:
    Voice(const Settings& settings, Services& services) : m_settings(settings), m_services(services) {}

    // Sees the file name of every sound the program asks for, played or not (the replay tool prints them).
    void onSay(std::function<void(const QString& fileName)> hook) { m_onSay = std::move(hook); }
    // Nothing reaches the sound device (the replay tool).
    void setSilent(bool silent) { m_silent = silent; }

    // Throws std::overflow_error when the weight does not fit the currency range of word mode.
    void AnnounceWeight(const QString& weightText);
    // Plays the file if it exists; returns when it has finished.
    void PlayWave(const QString& path);

    // Word mode, on fixed-point values with four decimals (64-bit, as a currency number).
    void SayNumber(std::int64_t valueTenThousandths);
    void SayHundreds(std::int16_t n);

    // The leading-number value of a text as a currency value; nothing when it overflows.
    static bool toCurrency(const QString& text, std::int64_t* value);

private:
    void playWord(const QString& word, bool onlyIfPresent);

    const Settings& m_settings;
    Services& m_services;
    std::function<void(const QString&)> m_onSay;
    bool m_silent = false;
};

}  // namespace veltrane
