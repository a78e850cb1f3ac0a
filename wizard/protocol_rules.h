#pragma once
// The protocol search's fixed tables and its pure decisions: answer checks, the match test, the
// number analysis and the baud ceiling. Nothing here touches a port, a window or a file.

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace veltrane {

struct DelimiterRow {
    const char* name;
    std::int16_t code;  // 0 with Autosense on
    bool autosense;
};

// First phase: 13 delimiters, "?" (Autosense) last.
const std::array<DelimiterRow, 13>& firstPhaseDelimiters();
// Second phase: the first eleven rows, then "?" as row 12 ("+" is not tried).
const std::array<DelimiterRow, 12>& secondPhaseDelimiters();

// "300,n,8,1" ... "9600,n,8,1", without 4800.
const std::array<QString, 5>& firstPhaseSettings();
// 72 rows, 9 frames per baud rate from 300 to 38400; row r is element r - 1.
const std::array<QString, 72>& secondPhaseSettings();

// The baud rate before the first comma; 0 without a comma.
std::int32_t BaudOf(const QString& settings);
// The ceiling after a declined offer: twice BaudOf below 38400, else 38400.
std::int32_t NextBaudCeiling(const QString& settings);

// The delimiter name stored for a code (13 -> "CR"); empty for a code not in the table.
QString delimiterNameOf(int code);

// Answer checks. Each gives the operator's message when the answer is refused, nothing when accepted.
std::optional<QString> checkPortAnswer(const QString& answer);
struct Capacity {
    QString description;    // " ( with 5 digits) "
    QString minimumWeight;  // "10000"
};
// Refused answers give nothing (the message is "Max capacity entered is invalid!").
std::optional<Capacity> capacityOf(const QString& answer);
inline constexpr auto kCapacityInvalid = "Max capacity entered is invalid!";
std::optional<QString> checkSampleWeight(const QString& answer);

// The match test of the last record R against the sample weight W.
struct Match {
    int start = 0;  // 1-based position of W (or of W reversed) in R
    bool reversed = false;
};
inline constexpr int kMatchRecordLimit = 100;  // a record of this length or more never matches
std::optional<Match> matchRecord(const QByteArray& record, const QByteArray& weight);

// The number analysis of an identified record. oneNumber: exactly one terminated number;
// lastNumber: the last terminated number is W, forwards or reversed.
struct NumberFindings {
    bool oneNumber = false;
    bool lastNumber = false;
};
NumberFindings AnalyseNumbers(const QByteArray& record, const QByteArray& weight);

// The pieces of a settings text such as "2400,n,8,1", fields taken by their leading numbers.
struct SettingsFields {
    std::int32_t baud = 0;
    QString parity;  // as it stands, untrimmed
    std::uint8_t dataBits = 0;
    std::uint8_t stopBits = 0;
    QString dataBitsText;
    QString stopBitsText;
};
SettingsFields splitSettings(const QString& settings);

}  // namespace veltrane
