#pragma once
// The program-wide settings: the first row of table config, as the loader copies it, plus the values
// derived from it. Member names keep the column names, which are the system's vocabulary.
// Everything starts false, 0 or empty before the first load.

#include <QString>

#include <cstdint>

namespace veltrane {

inline constexpr auto kSettingsDatabaseName = "scale.mdb";
inline constexpr auto kSettingsDatabaseConnect = ";pwd=qd584";
inline constexpr auto kVersionDatabaseName = "config.mdb";
inline constexpr auto kVersionDatabaseConnect = ";pwd=vtlqe";
inline constexpr auto kExportDatabaseName = "veltrane.mdb";
inline constexpr auto kCsvFileName = "veltrane.csv";
inline constexpr auto kFallbackPassword = "zof";
inline constexpr auto kDefaultPassword = "pavix";

struct Settings {
    // Columns, in the order the loader reads them.
    bool throwstring = false;
    bool FORWEIGHBRIDGE = false;
    QString outstring;
    bool addcr = false;
    QString pw;
    QString outputFilelocation;
    QString outputFiletype;
    bool appendTimeStamp = false;
    bool appendTimeStampComma = false;
    bool reverseweight = false;
    bool simpinterface = false;
    QString delimiter;
    std::int16_t weightstart = 0;
    // The end position and the weight field length share one value: after a load it holds the length.
    std::int16_t weightLength = 0;
    std::uint8_t port = 0;
    QString databits;
    QString stopbits;
    QString parity;
    std::int32_t baud = 0;
    float discardweightlessthan = 0;
    bool usevalue = false;
    bool Startonbutton = false;
    bool Startauto = false;
    bool saveonbutton = false;
    bool iNSERTDECIMALS = false;
    std::int32_t iNSERTBEFORE = 0;
    bool AutosaveonStableWeight = false;
    std::uint8_t minstablereadings = 0;
    double lowlimit = 0;
    double Highlimit = 0;
    bool LowHighAlarm = false;
    std::uint8_t StabilityCheckAccuracy = 0;
    double MinimumAutosaveWeight = 0;
    QString outputApplication;
    bool OutputClipboard = false;
    bool EnableDDE = false;
    bool activateVoiceAlert = false;
    bool voicealertnormal = false;
    QString ApplicationName;

    // Derived values.
    QString outputFolder;    // with a trailing "/"
    QString outputTypeCode;  // "1" CSV without heading, "2" CSV with heading, "3" export database
    QString csvFilePath;
    QString mdbFilePath;
    QString outputFilePath;
    std::int16_t delimiterCode = 0;
    std::int32_t decimalDivisor = 0;
    QString voicePromptFile;
    QString accessPassword;
};

// Delimiter name to character code, exact comparison (case matters). Nothing for an unknown name.
int delimiterCodeOf(const QString& name);  // -1 when unknown
// Places 1..8 give 10..100000000, anything else 1.
std::int32_t decimalDivisorFor(std::int64_t places);

// Where the weight lies in a record, from the stored start and end positions: an end of 0 or less means
// 100, and a start beyond the end or before 1 means 1. The loader and the save correct alike.
void setWeightPositions(Settings& settings, int start, int end);

}  // namespace veltrane
