#include "config/config_save.h"

#include "config/comports.h"
#include "config/event_log.h"
#include "config/loader.h"
#include "config/numbers.h"
#include "config/weight_chain.h"
#include "platform/clock.h"

#include <QDir>
#include <QFileInfo>

#include <cfloat>
#include <cmath>
#include <limits>

namespace veltrane {

namespace {

QString* noText(ConfigFormValues&) {
    return nullptr;
}

ConfigBinding check(const char* control, const char* column, int index) {
    return {control, column, ColumnKind::YesNo, "", noText, index, false};
}

}  // namespace

const std::vector<ConfigBinding>& configBindings() {
    using K = ColumnKind;
    // In the order the window shows them. Text7 comes before Text10: both hold MinimumAutosaveWeight,
    // and when both were changed the later one is stored (the window keeps them equal anyway).
    static const std::vector<ConfigBinding> bindings{
        {"Combo2", "port", K::Byte, "COM (Serial) Port:", [](ConfigFormValues& v) { return &v.Combo2; }, -1,
         false},
        {"Combo1", "baud", K::Int32, "Baud:", [](ConfigFormValues& v) { return &v.Combo1; }, -1, false},
        {"Combo3", "databits", K::Text, "Data bits:", [](ConfigFormValues& v) { return &v.Combo3; }, -1,
         false},
        {"Combo4", "stopbits", K::Text, "Stop bits:", [](ConfigFormValues& v) { return &v.Combo4; }, -1,
         false},
        {"Combo5", "parity", K::Text, "Parity:", [](ConfigFormValues& v) { return &v.Combo5; }, -1, false},
        check("chkFields_12", "simpinterface", 12),
        check("chkFields_9", "usevalue", 9),
        {"Text2", "weightstart", K::Int16,
         "In the string transmitted by the indicator, weight data starts at position",
         [](ConfigFormValues& v) { return &v.Text2; }, -1, true},
        {"Text3", "weightend", K::Int16,
         "In the string transmitted by the indicator, weight data ends at position",
         [](ConfigFormValues& v) { return &v.Text3; }, -1, true},
        {"Combo6", "delimiter", K::Text,
         "Delimiter (End of data marker):", [](ConfigFormValues& v) { return &v.Combo6; }, -1, true},
        check("chkFields_3", "reverseweight", 3),
        check("chkFields_6", "iNSERTDECIMALS", 6),
        {"Text5", "iNSERTBEFORE", K::Int32, "Number of decimal points",
         [](ConfigFormValues& v) { return &v.Text5; }, -1, false},
        check("chkFields_0", "throwstring", 0),
        check("chkFields_4", "addcr", 4),
        {"text1", "outstring", K::Text, "String to be sent:", [](ConfigFormValues& v) { return &v.text1; },
         -1, true},
        check("chkFields_1", "Startauto", 1),
        {"Text4", "discardweightlessthan", K::Single,
         "Weighing process will only start if the weight is above :",
         [](ConfigFormValues& v) { return &v.Text4; }, -1, true},
        check("chkFields_24", "Startonbutton", 24),
        check("chkFields_26", "saveonbutton", 26),
        {"Text7", "MinimumAutosaveWeight", K::Double,
         "Weighment data record is saved when indicator sends any weight above minimum weight ie:",
         [](ConfigFormValues& v) { return &v.Text7; }, -1, false},
        check("chkFields_22", "AutosaveonStableWeight", 22),
        {"Text6", "minstablereadings", K::Byte,
         "Minimum number of stable readings to be received to qualify the weight as stable :",
         [](ConfigFormValues& v) { return &v.Text6; }, -1, false},
        {"Text9", "StabilityCheckAccuracy", K::Byte,
         "To qualify for stable reading, consecutive weight readings must be within a decimal digit "
         "accuracy of  :",
         [](ConfigFormValues& v) { return &v.Text9; }, -1, false},
        {"Text10", "MinimumAutosaveWeight", K::Double,
         "For autosaving, weight should be stable and must be above",
         [](ConfigFormValues& v) { return &v.Text10; }, -1, false},
        check("chkFields_2", "FORWEIGHBRIDGE", 2),
        check("chkFields_14", "activateVoiceAlert", 14),
        check("chkFields_5", "voicealertnormal", 5),
        {"Combo8", "outputFiletype", K::Text,
         "Output file type:", [](ConfigFormValues& v) { return &v.Combo8; }, -1, true},
        {"txtFields_3", "outputFilelocation", K::Text,
         "Save output file in :", [](ConfigFormValues& v) { return &v.txtFields[3]; }, -1, true},
        check("chkFields_7", "appendTimeStamp", 7),
        check("chkFields_10", "OutputClipboard", 10),
        check("chkFields_8", "EnableDDE", 8),
        {"txtFields_7", "pw", K::Text, "New password:", [](ConfigFormValues& v) { return &v.txtFields[7]; },
         -1, true},
        {"ApplicationName", "ApplicationName", K::Text, "ApplicationName",
         [](ConfigFormValues& v) { return &v.ApplicationName; }, -1, true},
    };
    return bindings;
}

namespace {

QString shownText(const QVariant& value, ColumnKind kind) {
    if (value.isNull()) return {};
    if (kind == ColumnKind::Text) return value.toString();
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok) return value.toString();  // whatever a careless writer put there is shown as it is
    if (kind == ColumnKind::Single) return numberTextSingle(static_cast<float>(number));
    return numberText(number);
}

QString rangeText(ColumnKind kind) {
    switch (kind) {
        case ColumnKind::Byte:
            return QStringLiteral("a whole number from 0 to 255");
        case ColumnKind::Int16:
            return QStringLiteral("a whole number from -32768 to 32767");
        case ColumnKind::Int32:
            return QStringLiteral("a whole number from -2147483648 to 2147483647");
        default:
            return QStringLiteral("a number");
    }
}

// The column value of a control's text, as the record would take it; nothing when it refuses it.
std::optional<QVariant> columnValue(const ConfigBinding& b, const QString& text) {
    if (b.kind == ColumnKind::Text) return QVariant(text);
    if (text.trimmed().isEmpty()) {
        if (b.nullable) return QVariant();
        return std::nullopt;
    }
    const std::optional<double> number = numericValue(text);
    if (!number || !std::isfinite(*number)) return std::nullopt;
    auto whole = [&](double low, double high) -> std::optional<QVariant> {
        const double rounded = roundHalfEven(*number, 0);
        if (rounded < low || rounded > high) return std::nullopt;
        return QVariant(static_cast<qlonglong>(rounded));
    };
    switch (b.kind) {
        case ColumnKind::Byte:
            return whole(0, 255);
        case ColumnKind::Int16:
            return whole(-32768, 32767);
        case ColumnKind::Int32:
            return whole(-2147483648.0, 2147483647.0);
        case ColumnKind::Single:
            if (std::fabs(*number) > FLT_MAX) return std::nullopt;
            return QVariant(static_cast<double>(static_cast<float>(*number)));
        default:
            return QVariant(*number);
    }
}

}  // namespace

ConfigRecordSource::ConfigRecordSource(QString databasePath, const Clock* clock)
    : m_path(std::move(databasePath)), m_clock(clock) {}

void ConfigRecordSource::ensureOpen() {
    if (!m_db) m_db = Database::open(m_path, QString::fromLatin1(kSettingsDatabaseConnect));
    if (!m_rows) {
        m_rows = m_db->openRecordSet(QStringLiteral("select * from config"));
        m_rows->moveFirst();
    }
}

bool ConfigRecordSource::read(ConfigFormValues& values) {
    try {
        m_rows.reset();  // each reading runs the query again: the window shows what is stored now
        ensureOpen();
        if (m_rows->isEof()) return false;
    } catch (const DbError&) {
        return false;
    }
    for (const ConfigBinding& b : configBindings()) {
        try {
            const QVariant value = m_rows->field(QString::fromLatin1(b.column));
            if (b.check >= 0) {
                values.chkFields[static_cast<std::size_t>(b.check)] =
                    !value.isNull() && value.toLongLong() != 0;
            } else {
                *b.text(values) = shownText(value, b.kind);
            }
        } catch (const DbError&) {
            // A missing column leaves its control empty; the window opens anyway.
        }
    }
    try {
        values.outputApplication = m_rows->field(QStringLiteral("outputApplication"));
    } catch (const DbError&) {
    }
    const int port = static_cast<int>(leadingNumberValue(values.Combo2));
    if (port > 0) values.portDevices[port] = deviceOf(port);
    m_read = values;
    return true;
}

QString ConfigRecordSource::deviceOf(int portNumber) {
    try {
        if (!m_db) m_db = Database::open(m_path, QString::fromLatin1(kSettingsDatabaseConnect));
        if (auto device = readComportDevice(*m_db, portNumber)) return *device;
    } catch (const DbError&) {
        // No comports table yet: every port has its default device.
    }
    return defaultDeviceFor(portNumber);
}

std::optional<WriteRefusal> ConfigRecordSource::write(const ConfigFormValues& values) {
    ConfigFormValues shown = values;  // the accessors want a mutable object
    ConfigFormValues before = m_read;
    std::vector<std::pair<QString, QVariant>> changes;
    for (const ConfigBinding& b : configBindings()) {
        const QString column = QString::fromLatin1(b.column);
        if (b.check >= 0) {
            const auto i = static_cast<std::size_t>(b.check);
            if (shown.chkFields[i] != before.chkFields[i])
                changes.emplace_back(column, shown.chkFields[i] ? -1 : 0);
            continue;
        }
        const QString& text = *b.text(shown);
        if (text == *b.text(before)) continue;
        const std::optional<QVariant> value = columnValue(b, text);
        if (!value) {
            QString label = QString::fromUtf8(b.label).trimmed();
            while (label.endsWith(QLatin1Char(':'))) label = label.chopped(1).trimmed();
            return WriteRefusal{QString::fromLatin1(b.control), column,
                                QStringLiteral("Nothing was saved: \"%1\" cannot hold '%2'. It needs %3.")
                                    .arg(label, text, rangeText(b.kind))};
        }
        changes.emplace_back(column, *value);
    }
    try {
        ensureOpen();
        if (m_rows->isEof()) throw DbError("table config has no row");
        ensureChainTables(*m_db);
        // The row and the event that records its change are written together or not at all.
        inTransaction(*m_db, [&] {
            const QVariantMap before =
                rowValues(*m_db->openRecordSet(QStringLiteral("select * from config")));
            m_rows->edit();
            try {
                for (const auto& [column, value] : changes) m_rows->setField(column, value);
                m_rows->update();
            } catch (const DbError&) {
                m_rows->cancelUpdate();
                throw;
            }
            const QVariantMap after = rowValues(*m_db->openRecordSet(QStringLiteral("select * from config")));
            QJsonObject change = settingsChange(QStringLiteral("config"), before, after);
            if (change.isEmpty()) return;
            change.insert(QStringLiteral("by"), QStringLiteral("configuration window"));
            const QDateTime now = m_clock ? m_clock->now() : QDateTime::currentDateTime();
            appendEvent(*m_db, generalDate(now), QLatin1String(eventkind::kSettings), change);
        });
        m_rows->moveToLastModified();
    } catch (const DbError& e) {
        return WriteRefusal{
            {},
            {},
            QStringLiteral("Nothing was saved: the configuration record could not be written (%1).")
                .arg(e.description())};
    }
    m_read = values;
    if (auto refusal = writeDevices(values)) return refusal;
    return std::nullopt;
}

std::optional<WriteRefusal> ConfigRecordSource::writeDevices(const ConfigFormValues& values) {
    for (const auto& [port, typed] : values.portDevices) {
        const QString device = typed.trimmed();
        if (port < 1 || device == deviceOf(port)) continue;
        try {
            // The default device needs no row; an empty box also goes back to it.
            writeComportDevice(m_path, port, device == defaultDeviceFor(port) ? QString() : device);
        } catch (const DbError& e) {
            return WriteRefusal{QStringLiteral("portDevice"), QStringLiteral("device"),
                                QStringLiteral("The device of port %1 could not be saved (%2).")
                                    .arg(QString::number(port), e.description())};
        }
    }
    return std::nullopt;
}

QVariant ConfigRecordSource::storedField(const QString& column) {
    ensureOpen();
    return m_rows->field(column);
}

ConfigSave::ConfigSave(ConfigRecordSource& source, Settings& settings, Services& services,
                       PortSettingsTarget& port)
    : m_source(source), m_settings(settings), m_services(services), m_port(port) {}

namespace {

// A numeric reading rounded to a whole number that fits T; nothing when it does not fit (the step
// that needs it is skipped, as an overflow skipped it before).
template <typename T>
std::optional<T> wholeReading(const QString& text) {
    const double rounded = roundHalfEven(leadingNumberValue(text), 0);
    if (!(rounded >= static_cast<double>(std::numeric_limits<T>::min()) &&
          rounded <= static_cast<double>(std::numeric_limits<T>::max())))
        return std::nullopt;
    return static_cast<T>(rounded);
}

}  // namespace

SaveOutcome ConfigSave::save(ConfigFormValues& v) {
    requireOneDecodingMethod(v);
    takeNewPassword(v);
    fillEmptyBoxes(v);
    if (!positionsArePositive(v)) return SaveOutcome::Stopped;
    applyDelimiterAndMethod(v);
    if (!requestStringGiven(v)) return SaveOutcome::Stopped;
    keepOneDecodingMethod(v);
    applyWeightPositions(v);
    if (!writeRecord(v)) return SaveOutcome::Stopped;
    applySerialSettings(v);
    applyRequestAndDecimals(v);
    if (m_portWasOpen && !reopenPort()) return SaveOutcome::Stopped;
    return applyOutputSettings();
}

void ConfigSave::requireOneDecodingMethod(ConfigFormValues& v) {
    if (v.chkFields[kAutosense] || v.chkFields[kByPosition]) return;
    m_services.prompts.beep();
    m_services.prompts.message(QStringLiteral(
        "You need to select one interface method (Manual/auto-sense)! Will default to auto-sense.."));
    v.chkFields[kAutosense] = true;
}

// Only when typed the same twice.
void ConfigSave::takeNewPassword(ConfigFormValues& v) {
    if (v.txtFields[0].isEmpty() && v.txtFields[2].isEmpty()) return;
    if (v.txtFields[0] == v.txtFields[2]) {
        v.txtFields[7] = v.txtFields[2];
        return;
    }
    m_services.prompts.beep();
    m_services.prompts.message(QStringLiteral("Passwords do not match!!! Password will not be changed!!"));
}

void ConfigSave::fillEmptyBoxes(ConfigFormValues& v) {
    if (v.Combo2.isEmpty()) v.Combo2 = QStringLiteral("1");
    if (v.Text2.trimmed().isEmpty()) v.Text2 = QStringLiteral("0");
    if (v.Text3.trimmed().isEmpty()) v.Text3 = QStringLiteral("0");
}

bool ConfigSave::positionsArePositive(const ConfigFormValues& v) {
    if (leadingNumberValue(v.Text2) >= 0 && leadingNumberValue(v.Text3) >= 0) return true;
    m_services.prompts.beep();
    m_services.prompts.message(QStringLiteral("Error! start/end can't be less than 0!"));
    return false;
}

// Applied at once, even if a later check stops the save.
void ConfigSave::applyDelimiterAndMethod(const ConfigFormValues& v) {
    const QString delimiterName = v.Combo6.isEmpty() ? QStringLiteral("CR") : v.Combo6;
    if (const int code = delimiterCodeOf(delimiterName); code >= 0)
        m_settings.delimiterCode = static_cast<std::int16_t>(code);
    m_settings.usevalue = v.chkFields[kByPosition];
}

bool ConfigSave::requestStringGiven(const ConfigFormValues& v) {
    if (!v.chkFields[kThrowString] || !v.text1.isEmpty()) return true;
    m_services.prompts.message(QStringLiteral("You have ticked throw-string mode. Outstring ?"));
    return false;
}

void ConfigSave::keepOneDecodingMethod(ConfigFormValues& v) {
    if (!v.chkFields[kByPosition] || !v.chkFields[kAutosense]) return;
    m_services.prompts.beep();
    m_services.prompts.message(
        QStringLiteral("Tick only one protocol decoding method! Enabling autosense.."));
    v.chkFields[kByPosition] = false;
}

// Corrected as the loader corrects them; positions that do not fit change nothing.
void ConfigSave::applyWeightPositions(const ConfigFormValues& v) {
    const auto start = wholeReading<std::int16_t>(v.Text2);
    const auto end = wholeReading<std::int16_t>(v.Text3);
    if (start && end) setWeightPositions(m_settings, *start, *end);
}

// A value the record refuses is reported and nothing is saved: storing the rest silently would let the
// screen and the record disagree while the save looked successful.
bool ConfigSave::writeRecord(const ConfigFormValues& v) {
    const auto refusal = m_source.write(v);
    if (!refusal) return true;
    m_services.prompts.beep();
    m_services.prompts.message(refusal->message, MessageIcon::Exclamation);
    return false;
}

// The port takes the new number and settings; an open one is closed first and reopened at the end.
void ConfigSave::applySerialSettings(const ConfigFormValues& v) {
    m_settings.simpinterface = v.chkFields[kAutosense];
    if (const auto baud = wholeReading<std::int32_t>(v.Combo1.trimmed())) m_settings.baud = *baud;
    m_portWasOpen = m_port.closeForNewSettings();
    m_port.setNewSettings(wholeReading<std::int32_t>(v.Combo2),
                          QString::number(m_settings.baud) + QLatin1Char(',') + v.Combo5 + QLatin1Char(',') +
                              v.Combo3 + QLatin1Char(',') + v.Combo4);
}

void ConfigSave::applyRequestAndDecimals(const ConfigFormValues& v) {
    m_settings.throwstring = v.chkFields[kThrowString];
    m_settings.outstring = v.text1;
    m_settings.addcr = v.chkFields[4];
    m_settings.reverseweight = v.chkFields[3];
    m_settings.iNSERTDECIMALS = v.chkFields[6];
    const double places = roundHalfEven(leadingNumberValue(v.Text5), 0);
    m_settings.decimalDivisor =
        (places >= 1 && places <= 8) ? decimalDivisorFor(static_cast<std::int64_t>(places)) : 1;
}

bool ConfigSave::reopenPort() {
    if (m_port.reopenWithRetries()) return true;
    m_services.prompts.beep();
    m_services.prompts.message(QStringLiteral("Could not open serial port %1 !").arg(m_port.portNumber()));
    // The reason, as after a failed opening at start-up: the device, its permission or its holder.
    if (const QString why = m_port.lastError(); !why.isEmpty())
        m_services.prompts.message(why, MessageIcon::Exclamation);
    return false;
}

SaveOutcome ConfigSave::applyOutputSettings() {
    OutputColumns columns;
    try {
        const QVariant location = m_source.storedField(QStringLiteral("outputFilelocation"));
        const QVariant type = m_source.storedField(QStringLiteral("outputFiletype"));
        columns.locationNull = location.isNull();
        columns.location = location.toString();
        columns.typeNull = type.isNull();
        columns.type = type.toString();
    } catch (const DbError&) {
        return SaveOutcome::Saved;  // the record was written; only this last step is lost
    }
    if (applyOutputLocation(m_settings, m_services, columns) == LoadResult::EndProgram)
        return SaveOutcome::EndProgram;
    if (applyOutputType(m_settings, m_services, columns, OutputTypeMode::Save) == LoadResult::EndProgram)
        return SaveOutcome::EndProgram;
    return SaveOutcome::Saved;
}

}  // namespace veltrane
