#include "wizard/protocol_rules.h"

#include "config/numbers.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace veltrane {
namespace {

constexpr std::array<DelimiterRow, 13> kFirstPhase{{
    {"CR", 13, false},
    {"ETX", 3, false},
    {"ETB", 23, false},
    {"LF", 10, false},
    {"]", 93, false},
    {"}", 125, false},
    {")", 41, false},
    {",", 44, false},
    {";", 59, false},
    {"SPACE", 32, false},
    {"=", 61, false},
    {"+", 43, false},
    {"?", 0, true},
}};

std::array<DelimiterRow, 12> makeSecondPhase() {
    std::array<DelimiterRow, 12> rows{};
    std::copy_n(kFirstPhase.begin(), 11, rows.begin());
    rows[11] = kFirstPhase[12];
    return rows;
}

std::array<QString, 72> makeSecondPhaseSettings() {
    static constexpr std::array<int, 8> bauds{300, 600, 1200, 2400, 4800, 9600, 19200, 38400};
    static constexpr std::array<const char*, 9> slowFrames{"n,8,1", "n,7,1", "e,8,1", "o,8,1", "o,7,1",
                                                           "e,7,1", "n,8,2", "o,8,2", "e,8,2"};
    // The two fastest rates try the 8-bit frames first.
    static constexpr std::array<const char*, 9> fastFrames{"n,8,1", "o,8,1", "e,8,1", "n,7,1", "o,7,1",
                                                           "e,7,1", "n,8,2", "o,8,2", "e,8,2"};
    std::array<QString, 72> rows;
    for (std::size_t b = 0; b < bauds.size(); ++b) {
        const auto& frames = bauds[b] >= 19200 ? fastFrames : slowFrames;
        for (std::size_t f = 0; f < frames.size(); ++f) {
            rows[9 * b + f] = QString::number(bauds[b]) + QLatin1Char(',') + QLatin1String(frames[f]);
        }
    }
    return rows;
}

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Numeric characters of the number analysis: "-", "." and the digits ("/" is not one).
bool isNumberCharacter(char c) {
    return c >= 45 && c <= 57 && c != 47;
}

QByteArray reversed(const QByteArray& text) {
    QByteArray out(text);
    std::reverse(out.begin(), out.end());
    return out;
}

template <typename T>
T clampedNumber(double value) {
    if (!std::isfinite(value)) return 0;
    const double lo = static_cast<double>(std::numeric_limits<T>::min());
    const double hi = static_cast<double>(std::numeric_limits<T>::max());
    return static_cast<T>(std::clamp(std::round(value), lo, hi));
}

}  // namespace

const std::array<DelimiterRow, 13>& firstPhaseDelimiters() {
    return kFirstPhase;
}

const std::array<DelimiterRow, 12>& secondPhaseDelimiters() {
    static const std::array<DelimiterRow, 12> rows = makeSecondPhase();
    return rows;
}

const std::array<QString, 5>& firstPhaseSettings() {
    static const std::array<QString, 5> rows{
        QStringLiteral("300,n,8,1"),  QStringLiteral("600,n,8,1"),  QStringLiteral("1200,n,8,1"),
        QStringLiteral("2400,n,8,1"), QStringLiteral("9600,n,8,1"),
    };
    return rows;
}

const std::array<QString, 72>& secondPhaseSettings() {
    static const std::array<QString, 72> rows = makeSecondPhaseSettings();
    return rows;
}

std::int32_t BaudOf(const QString& settings) {
    const auto comma = settings.indexOf(QLatin1Char(','));
    if (comma < 0) return 0;
    return clampedNumber<std::int32_t>(leadingNumberValue(settings.left(comma)));
}

std::int32_t NextBaudCeiling(const QString& settings) {
    const std::int32_t baud = BaudOf(settings);
    return baud < 38400 ? baud * 2 : 38400;
}

QString delimiterNameOf(int code) {
    for (const auto& row : kFirstPhase) {
        if (!row.autosense && row.code == code) return QString::fromLatin1(row.name);
    }
    return {};
}

std::optional<QString> checkPortAnswer(const QString& answer) {
    const QString port = answer.trimmed();
    const double value = leadingNumberValue(port);
    if (port.size() > 2 || value <= 0 || value > 20)
        return QStringLiteral("Com port number must be between 1 to 20!");
    for (const QChar c : port) {
        if (!isDigit(c)) return QStringLiteral("Com port number must be betwen 1 to 20!");
    }
    return std::nullopt;
}

std::optional<Capacity> capacityOf(const QString& answer) {
    const QString text = answer.trimmed();
    if (text.isEmpty() || !isNumeric(text)) return std::nullopt;
    const auto point = text.indexOf(QLatin1Char('.'));
    if (point < 0) {
        const auto digits = text.size();
        if (digits < 3) return std::nullopt;
        return Capacity{QStringLiteral(" ( with %1 digits) ").arg(digits),
                        QLatin1Char('1') + QString(digits - 1, QLatin1Char('0'))};
    }
    const QString integerPart = text.left(point);
    const QString decimalPart = text.mid(point + 1, 100);
    if (decimalPart.isEmpty()) return std::nullopt;
    const auto integerZeros = std::max<qsizetype>(0, integerPart.size() - 1);
    return Capacity{
        QStringLiteral(" ( with %1 digits and %2 decimals.) ")
            .arg(integerPart.size())
            .arg(decimalPart.size()),
        QLatin1Char('1') + QString(integerZeros, QLatin1Char('0')) + QLatin1Char('.') +
            QString(decimalPart.size() - 1, QLatin1Char('0')) + QLatin1Char('1'),
    };
}

std::optional<QString> checkSampleWeight(const QString& answer) {
    const QString weight = answer.trimmed();
    if (weight.isEmpty()) return QStringLiteral("Weight must be numeric!");
    if (leadingNumberValue(weight) <= 0) return QStringLiteral("Weight must be greater than zero!");
    if (!isNumeric(weight)) return QStringLiteral("Weight must be totally numeric!");
    return std::nullopt;
}

std::optional<Match> matchRecord(const QByteArray& record, const QByteArray& weight) {
    if (record.size() >= kMatchRecordLimit || weight.isEmpty()) return std::nullopt;
    if (const auto at = record.indexOf(weight); at >= 0) return Match{static_cast<int>(at) + 1, false};
    if (const auto at = record.indexOf(reversed(weight)); at >= 0)
        return Match{static_cast<int>(at) + 1, true};
    return std::nullopt;
}

NumberFindings AnalyseNumbers(const QByteArray& record, const QByteArray& weight) {
    QByteArray current;
    QByteArray last;
    int count = 0;
    bool between = false;
    for (const char c : record) {
        if (isNumberCharacter(c)) {
            if (between) {
                current.clear();
                between = false;
            }
            current += c;
        } else if (!between) {
            // A number counts only once something follows it.
            if (!current.isEmpty()) ++count;
            last = current;
            current.clear();
            between = true;
        }
    }
    return {count == 1, weight == last || weight == reversed(last)};
}

SettingsFields splitSettings(const QString& settings) {
    QStringList fields;
    qsizetype from = 0;
    for (int i = 0; i < 3; ++i) {
        const auto comma = settings.indexOf(QLatin1Char(','), from);
        if (comma < 0) break;
        fields << settings.mid(from, comma - from);
        from = comma + 1;
    }
    fields << settings.mid(from);
    while (fields.size() < 4) fields << QString();
    SettingsFields out;
    out.baud = clampedNumber<std::int32_t>(leadingNumberValue(fields[0]));
    out.parity = fields[1];
    out.dataBitsText = fields[2];
    out.stopBitsText = fields[3];
    out.dataBits = clampedNumber<std::uint8_t>(leadingNumberValue(fields[2]));
    out.stopBits = clampedNumber<std::uint8_t>(leadingNumberValue(fields[3]));
    return out;
}

}  // namespace veltrane
