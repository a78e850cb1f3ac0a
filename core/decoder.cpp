#include "core/decoder.h"

#include "config/numbers.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace veltrane {
namespace {

// "-", ".", "0" to "9"; the "/" between them is not part of a number.
bool isNumericCode(int c) {
    return c >= 45 && c <= 57 && c != 47;
}

QByteArray trimSpaces(const QByteArray& s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s[begin] == ' ') ++begin;
    while (end > begin && s[end - 1] == ' ') --end;
    return s.mid(begin, end - begin);
}

// A reading too large for a single cannot be a weight; it reads as 0 rather than overflowing.
float toSingle(double value) {
    if (!std::isfinite(value) || std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max())) {
        return 0.0f;
    }
    return static_cast<float>(value);
}

}  // namespace

Decoder::Decoder(const Settings& settings, DecoderHost& host) : m_settings(settings), m_host(host) {}

QByteArray Decoder::StripLeadingNonNumeric(const QByteArray& s) {
    QByteArray out = s;
    while (!out.isEmpty()) {
        const char c = out.front();
        if ((c >= '0' && c <= '9') || c == '.') break;
        out = out.mid(1, 200);
    }
    return out;
}

void Decoder::DecodeCharacter(const QByteArray& ch) {
    const int c = ch.isEmpty() ? 0 : static_cast<unsigned char>(ch.front());
    if (m_searchRunning) m_searchLog += '-' + QByteArray::number(c);

    const bool numeric = isNumericCode(c);
    const bool autosense = m_settings.simpinterface;
    const bool delimiter = c == m_settings.delimiterCode;

    if (m_frameComplete) {
        // Separators between records are skipped; the buffer empties only when a new record starts.
        if (autosense ? !numeric : delimiter) return;
        m_frameComplete = false;
        m_receiveBuffer.clear();
        ++m_recordsStarted;
    }

    const bool recordEnds = autosense ? !numeric : delimiter;
    if (!recordEnds) {
        // Keep the newest part of an overlong record: its start can no longer yield a weight anyway.
        if (m_receiveBuffer.size() >= kMaxRecordLength)
            m_receiveBuffer.remove(0, m_receiveBuffer.size() - kMaxRecordLength / 2);
        m_receiveBuffer += ch;
        m_host.showRawData(m_receiveBuffer);
        return;
    }

    m_frameComplete = true;
    m_receiveBuffer = trimSpaces(m_receiveBuffer);
    m_lastRecord = m_receiveBuffer;

    if (!autosense) {
        const qsizetype start = std::max<qsizetype>(1, m_settings.weightstart);
        const qsizetype length = std::max<qsizetype>(0, m_settings.weightLength);
        m_receiveBuffer =
            start > m_receiveBuffer.size() ? QByteArray() : m_receiveBuffer.mid(start - 1, length);
    }
    if (m_settings.reverseweight) std::reverse(m_receiveBuffer.begin(), m_receiveBuffer.end());
    if (m_settings.iNSERTDECIMALS && m_settings.decimalDivisor != 0) {
        m_receiveBuffer =
            numberText(leadingNumberValue(m_receiveBuffer) / m_settings.decimalDivisor).toLatin1();
    }
    const QByteArray stripped =
        StripLeadingNonNumeric(numberText(leadingNumberValue(m_receiveBuffer)).toLatin1());
    m_receiveBuffer = numberText(leadingNumberValue(stripped)).toLatin1();

    m_host.setWeightText(QString::fromLatin1(m_receiveBuffer));
    const QString shown = m_host.weightText();
    m_currentWeight = toSingle(leadingNumberValue(shown));
    m_host.recordCompleted(m_lastRecord, shown);

    // The weighment step lets events run (message boxes, sounds): a record may start inside it. Its
    // characters then own the buffer, and emptying it here would cut that record short.
    const auto started = m_recordsStarted;
    bool keepBuffer = false;
    if (!m_searchRunning) keepBuffer = !m_host.weighmentStep(m_currentWeight);
    if (!keepBuffer && started == m_recordsStarted) m_receiveBuffer.clear();
}

}  // namespace veltrane
