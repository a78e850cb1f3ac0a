#pragma once
// Indicator data decoding: one received character at a time into records, and each record into a
// weight. Pure logic: it knows nothing of ports or windows, only the settings and its host.

#include "config/settings.h"

#include <QByteArray>
#include <QString>

namespace veltrane {

class DecoderHost {
public:
    virtual ~DecoderHost() = default;
    // Textindi shows the receive buffer as it grows.
    virtual void showRawData(const QByteArray& buffer) = 0;
    // weightdata (and with it the live feed).
    virtual void setWeightText(const QString& text) = 0;
    virtual QString weightText() const = 0;
    // Called at each completed record outside a protocol search. False when the reading was refused
    // as too soon (the receive buffer is then kept).
    virtual bool weighmentStep(float weight) = 0;
    virtual void recordCompleted(const QByteArray& lastRecord, const QString& weightText) {
        (void)lastRecord;
        (void)weightText;
    }
};

class Decoder {
public:
    Decoder(const Settings& settings, DecoderHost& host);

    // Processes one received piece; only the code of its first character is tested, all of it is appended.
    void DecodeCharacter(const QByteArray& ch);
    static QByteArray StripLeadingNonNumeric(const QByteArray& s);

    // Longest record kept: every start position and field length the settings can hold (16-bit) lies
    // within it. An indicator sending without the configured delimiter (wrong delimiter, wrong baud)
    // would otherwise grow the buffer for as long as the program runs.
    static constexpr qsizetype kMaxRecordLength = 65536;

    // The record being received, and the last complete one (as received, blanks trimmed).
    const QByteArray& receiveBuffer() const { return m_receiveBuffer; }
    const QByteArray& lastRecord() const { return m_lastRecord; }
    void clearReceiveBuffer() { m_receiveBuffer.clear(); }
    void clearLastRecord() { m_lastRecord.clear(); }
    // The weight of the last record, as the weighment cycle was given it.
    float currentWeight() const { return m_currentWeight; }

    // While the wizard searches, records are decoded and kept but never weighed, and every character
    // heard is logged ("-<code>") for the wizard's log file.
    bool searchRunning() const { return m_searchRunning; }
    void setSearchRunning(bool running) { m_searchRunning = running; }
    const QByteArray& searchLog() const { return m_searchLog; }
    void appendToSearchLog(const QByteArray& text) { m_searchLog += text; }
    void clearSearchLog() { m_searchLog.clear(); }

private:
    const Settings& m_settings;
    DecoderHost& m_host;
    QByteArray m_receiveBuffer;
    bool m_frameComplete = false;
    QByteArray m_lastRecord;
    bool m_searchRunning = false;
    QByteArray m_searchLog;
    float m_currentWeight = 0.0f;
    quint64 m_recordsStarted = 0;
};

}  // namespace veltrane
