#include "config/loader.h"

#include "config/numbers.h"
#include "platform/database.h"
#include "platform/file_access.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <unistd.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>

namespace veltrane {
namespace {

const QString kTable = QStringLiteral("config");

// Only blanks: a tab or line feed around a stored name is part of the name, and a delimiter named
// with one must not match the plain name.
QString trimBlanks(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' ')) ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' ')) --last;
    return text.mid(first, last - first);
}

QString textOf(const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray) return QString::fromUtf8(value.toByteArray());
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    if (isRealNumberValue(value)) return numberText(value.toDouble());
    return value.toString();
}

// Reads the columns of the first row of table config one by one. Every failure is shown at once in a
// message box with its own description, and the caller's setting is left as it was.
class RecordReader {
public:
    RecordReader(Prompts& prompts, RecordSet* record) : m_prompts(prompts), m_record(record) {}

    // The column's value, Null included; nothing (after the message) when it cannot be read.
    std::optional<QVariant> raw(const QString& column) {
        try {
            if (m_record == nullptr || m_record->isEof() || m_record->isBof()) {
                fail(QStringLiteral("No current record: column %1 of table %2 cannot be read, the settings "
                                    "database has no configuration row open")
                         .arg(column, kTable));
                return std::nullopt;
            }
            if (!m_record->hasField(column)) {
                fail(QStringLiteral("Item not found in this collection: column %1 is missing from table %2")
                         .arg(column, kTable));
                return std::nullopt;
            }
            return m_record->field(column);
        } catch (const DbError& error) {
            fail(QStringLiteral("Column %1 of table %2 cannot be read: %3")
                     .arg(column, kTable, error.description()));
            return std::nullopt;
        }
    }

    // Read and thrown away: only a missing column is a failure.
    void discard(const QString& column) { (void)raw(column); }

    // Yes/no column: any non-zero value is true. Null is a failure.
    void flag(const QString& column, bool& target) {
        const auto value = nonNull(column);
        if (!value) return;
        if (value->typeId() == QMetaType::Bool) {
            target = value->toBool();
            return;
        }
        if (isWholeNumberValue(*value) || isRealNumberValue(*value)) {
            target = value->toDouble() != 0.0;
            return;
        }
        // The same yes/no words the record set accepts when it writes the column.
        static const QStringList yes{QStringLiteral("true"), QStringLiteral("yes"), QStringLiteral("on")};
        static const QStringList no{QStringLiteral("false"), QStringLiteral("no"), QStringLiteral("off")};
        const QString text = textOf(*value).trimmed();
        if (const auto number = numericValue(text)) {
            target = *number != 0.0;
        } else if (yes.contains(text, Qt::CaseInsensitive)) {
            target = true;
        } else if (no.contains(text, Qt::CaseInsensitive)) {
            target = false;
        } else {
            fail(QStringLiteral("Type mismatch: column %1 of table %2 holds \"%3\", which is not yes or no")
                     .arg(column, kTable, text));
        }
    }

    enum class OnNull { Fail, Keep };

    // Whole-number column held in T: rounded half to even, then checked against T's range.
    template <typename T>
    void integer(const QString& column, T& target, OnNull onNull = OnNull::Fail, bool trimText = false) {
        const auto value = raw(column);
        if (!value) return;
        if (value->isNull()) {
            if (onNull == OnNull::Fail) nullFailure(column);
            return;
        }
        const auto number = numberOf(column, *value, trimText);
        if (!number) return;
        const double rounded = roundHalfEven(*number, 0);
        constexpr double low = static_cast<double>(std::numeric_limits<T>::min());
        constexpr double high = static_cast<double>(std::numeric_limits<T>::max());
        if (!std::isfinite(rounded) || rounded < low || rounded > high) {
            fail(QStringLiteral("Overflow: column %1 of table %2 holds %3, outside the range %4 to %5")
                     .arg(column, kTable, textOf(*value).trimmed(), numberText(low), numberText(high)));
            return;
        }
        target = static_cast<T>(rounded);
    }

    void real(const QString& column, double& target) {
        const auto value = nonNull(column);
        if (!value) return;
        const auto number = numberOf(column, *value, false);
        if (!number) return;
        if (!std::isfinite(*number)) {
            overflow(column, *value);
            return;
        }
        target = *number;
    }

    // Single precision; a Null gives nullDefault when there is one.
    void single(const QString& column, float& target, std::optional<float> nullDefault) {
        const auto value = raw(column);
        if (!value) return;
        if (value->isNull()) {
            if (nullDefault)
                target = *nullDefault;
            else
                nullFailure(column);
            return;
        }
        const auto number = numberOf(column, *value, false);
        if (!number) return;
        if (!std::isfinite(*number) ||
            std::fabs(*number) > static_cast<double>(std::numeric_limits<float>::max())) {
            overflow(column, *value);
            return;
        }
        target = static_cast<float>(*number);
    }

    // Text column. Numbers and yes/no values read as their text.
    void text(const QString& column, QString& target, OnNull onNull, bool trim = false) {
        const auto value = raw(column);
        if (!value) return;
        if (value->isNull()) {
            if (onNull == OnNull::Fail) nullFailure(column);
            return;
        }
        target = trim ? trimBlanks(textOf(*value)) : textOf(*value);
    }

    void textOr(const QString& column, QString& target, const QString& nullDefault) {
        const auto value = raw(column);
        if (!value) return;
        target = value->isNull() ? nullDefault : textOf(*value);
    }

    // A yes/no column kept as the text "True" or "False": the setting is passed on as text.
    void flagAsText(const QString& column, QString& target) {
        const auto value = nonNull(column);
        if (!value) return;
        if (isWholeNumberValue(*value) || isRealNumberValue(*value)) {
            target = value->toDouble() != 0.0 ? QStringLiteral("True") : QStringLiteral("False");
            return;
        }
        target = textOf(*value);
    }

private:
    std::optional<QVariant> nonNull(const QString& column) {
        auto value = raw(column);
        if (value && value->isNull()) {
            nullFailure(column);
            return std::nullopt;
        }
        return value;
    }

    std::optional<double> numberOf(const QString& column, const QVariant& value, bool trimText) {
        if (value.typeId() == QMetaType::Bool) return value.toBool() ? -1.0 : 0.0;
        if (isWholeNumberValue(value) || isRealNumberValue(value)) return value.toDouble();
        QString text = textOf(value);
        if (trimText) text = trimBlanks(text);
        if (auto number = numericValue(text)) return number;
        fail(QStringLiteral("Type mismatch: column %1 of table %2 holds \"%3\", which is not a number")
                 .arg(column, kTable, text));
        return std::nullopt;
    }

    void nullFailure(const QString& column) {
        fail(QStringLiteral("Invalid use of Null: column %1 of table %2 holds no value").arg(column, kTable));
    }

    void overflow(const QString& column, const QVariant& value) {
        fail(QStringLiteral("Overflow: column %1 of table %2 holds %3, which is too large")
                 .arg(column, kTable, textOf(value).trimmed()));
    }

    void fail(const QString& description) { m_prompts.message(description); }

    Prompts& m_prompts;
    RecordSet* m_record;
};

bool fileExists(const QString& path) {
    return QFileInfo(path).isFile();
}

// The load, one named step after another. Every column is read on its own: a failure is shown and the
// setting it feeds keeps its value, and the load goes on.
class LoadSteps {
public:
    LoadSteps(Settings& settings, Services& services, LoaderView& view, RecordSet* record)
        : s(settings), m_services(services), m_view(view), read(services.prompts, record) {}

    void readRequestStringAndPassword() {
        read.flag(QStringLiteral("throwstring"), s.throwstring);
        read.flag(QStringLiteral("FORWEIGHBRIDGE"), s.FORWEIGHBRIDGE);
        read.textOr(QStringLiteral("outstring"), s.outstring, QStringLiteral("$"));
        read.flag(QStringLiteral("addcr"), s.addcr);
        if (const auto pw = read.raw(QStringLiteral("pw"))) {
            s.pw = pw->isNull() ? QString::fromLatin1(kFallbackPassword) : textOf(*pw);
            s.accessPassword = s.pw;
        }
    }

    // EndProgram when the export database is configured and cannot be provided.
    LoadResult readOutputFile() {
        OutputColumns output;
        if (const auto location = read.raw(QStringLiteral("outputFilelocation"))) {
            output.locationNull = location->isNull();
            output.location = output.locationNull ? QString() : textOf(*location);
            if (!output.locationNull) s.outputFilelocation = output.location;
            applyOutputLocation(s, m_services, output);
        }
        if (const auto type = read.raw(QStringLiteral("outputFiletype"))) {
            output.typeNull = type->isNull();
            output.type = output.typeNull ? QString() : textOf(*type);
            return applyOutputType(s, m_services, output, OutputTypeMode::Loader);
        }
        return LoadResult::Completed;
    }

    void readDecodingMethod() {
        read.textOr(QStringLiteral("outstring"), s.outstring, QStringLiteral("$"));
        read.flag(QStringLiteral("appendTimeStamp"), s.appendTimeStamp);
        read.flag(QStringLiteral("appendTimeStampComma"), s.appendTimeStampComma);
        read.flag(QStringLiteral("reverseweight"), s.reverseweight);
        read.flag(QStringLiteral("simpinterface"), s.simpinterface);
        read.discard(QStringLiteral("crasdelimiter"));
    }

    // A column that cannot be read leaves the name and the code as they were.
    void readDelimiter() {
        const auto delimiter = read.raw(QStringLiteral("delimiter"));
        if (!delimiter) return;
        s.delimiter = QStringLiteral("CR");
        if (!delimiter->isNull()) {
            s.delimiter = trimBlanks(textOf(*delimiter));
        } else if (!s.simpinterface) {
            m_services.prompts.beep();
            m_services.prompts.message(QStringLiteral(
                "Simple interface is turned off in the interface configuration. You need to configure the "
                "delimiter if simple interface id turned off! Delimiter will be defaulted to Carriage "
                "return(CR). You can run the indicator interface wizard to find out the delimiter."));
        }
        if (const int code = delimiterCodeOf(s.delimiter); code >= 0)
            s.delimiterCode = static_cast<std::int16_t>(code);
    }

    // The end position lives in the same value as the field length, so a Null end takes the previous
    // load's length. Returns the end position.
    int readWeightPositions() {
        std::int16_t start = s.weightstart;
        std::int16_t end = s.weightLength;
        read.integer(QStringLiteral("weightstart"), start, RecordReader::OnNull::Keep);
        read.integer(QStringLiteral("weightend"), end, RecordReader::OnNull::Keep);
        setWeightPositions(s, start, end);
        return s.weightstart + s.weightLength - 1;
    }

    void readSerialSettings() {
        read.integer(QStringLiteral("port"), s.port);
        read.text(QStringLiteral("databits"), s.databits, RecordReader::OnNull::Fail, true);
        read.text(QStringLiteral("stopbits"), s.stopbits, RecordReader::OnNull::Fail, true);
        read.text(QStringLiteral("parity"), s.parity, RecordReader::OnNull::Fail, true);
        read.integer(QStringLiteral("baud"), s.baud, RecordReader::OnNull::Fail, true);
        read.single(QStringLiteral("discardweightlessthan"), s.discardweightlessthan, 0.0f);
        read.flag(QStringLiteral("usevalue"), s.usevalue);
    }

    // The loader never opens the port: it closes an open one so that the new settings apply when the
    // port opens next, and shows them. Parity is applied only at that opening.
    void showPortSettings(int endPosition) {
        if (m_view.portIsOpen()) m_view.closePortForReload();
        const QString settingsText =
            QStringLiteral("%1,n,%2,%3").arg(QString::number(s.baud), s.databits, s.stopbits);
        m_view.setPortSettingsText(settingsText);
        if (!s.simpinterface) {
            m_view.setPortToolTip(settingsText + QStringLiteral("  start: ") +
                                  QString::number(s.weightstart) + QStringLiteral(" to ") +
                                  QString::number(endPosition) + QStringLiteral(" : ") +
                                  QString::number(s.delimiterCode));
        } else {
            m_view.setPortToolTip(settingsText + QStringLiteral(" autosense"));
        }
        m_view.setPortNumberText(QString::number(s.port));
    }

    void readServingTriggersAndDecimals() {
        read.flag(QStringLiteral("addcr"), s.addcr);
        read.flag(QStringLiteral("Startonbutton"), s.Startonbutton);
        read.flag(QStringLiteral("Startauto"), s.Startauto);
        read.flag(QStringLiteral("saveonbutton"), s.saveonbutton);
        read.discard(QStringLiteral("decimalreqd"));
        read.flag(QStringLiteral("iNSERTDECIMALS"), s.iNSERTDECIMALS);
        read.integer(QStringLiteral("iNSERTBEFORE"), s.iNSERTBEFORE);
        s.decimalDivisor = decimalDivisorFor(s.iNSERTDECIMALS ? s.iNSERTBEFORE : 1);
    }

    void readStabilityAndOutputs() {
        read.flag(QStringLiteral("AutosaveonStableWeight"), s.AutosaveonStableWeight);
        read.integer(QStringLiteral("minstablereadings"), s.minstablereadings);
        read.real(QStringLiteral("lowlimit"), s.lowlimit);
        read.real(QStringLiteral("Highlimit"), s.Highlimit);
        read.flag(QStringLiteral("LowHighAlarm"), s.LowHighAlarm);
        read.integer(QStringLiteral("StabilityCheckAccuracy"), s.StabilityCheckAccuracy);
        read.real(QStringLiteral("MinimumAutosaveWeight"), s.MinimumAutosaveWeight);
        read.discard(QStringLiteral("autoprint"));
        read.discard(QStringLiteral("oversoundfile"));
        read.discard(QStringLiteral("undersoundfile"));
        read.discard(QStringLiteral("oksoundfile"));
        read.discard(QStringLiteral("dataingrams"));
        read.flagAsText(QStringLiteral("outputApplication"), s.outputApplication);
        read.flag(QStringLiteral("OutputClipboard"), s.OutputClipboard);
        read.flag(QStringLiteral("EnableDDE"), s.EnableDDE);
        // Turning the live feed off does not withdraw a topic set earlier in the run: linked programs
        // keep what they have until the program ends.
        if (s.EnableDDE) m_view.setDdeTopic(QStringLiteral("veltrane"));
    }

    void readVoiceAlert() {
        read.flag(QStringLiteral("activateVoiceAlert"), s.activateVoiceAlert);
        read.flag(QStringLiteral("voicealertnormal"), s.voicealertnormal);
        if (!s.activateVoiceAlert) {
            s.voicealertnormal = false;
            return;
        }
        s.voicePromptFile = m_services.appFolder + QStringLiteral("truckout.wav");
        if (!fileExists(s.voicePromptFile))
            m_services.prompts.message(QStringLiteral("Voice file is missing!!  : ") + s.voicePromptFile);
    }

    void readApplicationName() {
        read.text(QStringLiteral("ApplicationName"), s.ApplicationName, RecordReader::OnNull::Keep);
    }

private:
    Settings& s;
    Services& m_services;
    LoaderView& m_view;
    RecordReader read;
};

}  // namespace

ConfigLoader::ConfigLoader(Settings& settings, Services& services, LoaderView& view)
    : m_settings(settings), m_services(services), m_view(view) {}

QString ConfigLoader::settingsDatabasePath() const {
    return m_services.appFolder + QLatin1String(kSettingsDatabaseName);
}

LoadResult ConfigLoader::load() {
    // The first row of table config. When the database or the row is missing, every read below fails
    // in turn with its own message, and every setting keeps its value.
    std::unique_ptr<Database> database;
    std::unique_ptr<RecordSet> record;
    try {
        database = Database::open(settingsDatabasePath(), QLatin1String(kSettingsDatabaseConnect));
        record = database->openRecordSet(QStringLiteral("select * from config"));
        if (record->recordCount() > 0) record->moveFirst();
    } catch (const DbError& error) {
        // The engine says only "unable to open database file"; a permission has a remedy to name.
        const FileReachResult reach = reachFile(settingsDatabasePath());
        m_services.prompts.message(reach.reach == FileReach::Refused
                                       ? QStringLiteral("Error! settings database ") +
                                             settingsDatabasePath() + QStringLiteral(" cannot be read. ") +
                                             reach.advice
                                       : error.description());
        record.reset();
    }
    LoadSteps steps(m_settings, m_services, m_view, record.get());
    steps.readRequestStringAndPassword();
    if (steps.readOutputFile() == LoadResult::EndProgram) return LoadResult::EndProgram;
    steps.readDecodingMethod();
    steps.readDelimiter();
    const int endPosition = steps.readWeightPositions();
    steps.readSerialSettings();
    steps.showPortSettings(endPosition);
    steps.readServingTriggersAndDecimals();
    steps.readStabilityAndOutputs();
    steps.readVoiceAlert();
    steps.readApplicationName();
    return LoadResult::Completed;
}

namespace {

// The export file is made like the CSV beside it: a new file with the user's usual mode, not the
// template's, so that an ERP that may read the CSV in that folder may read this file too.
bool copyAsNewFile(const QString& from, const QString& to) {
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) return false;
    const QByteArray content = source.readAll();
    QFile target(to);
    if (source.error() != QFileDevice::NoError || !target.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    if (target.write(content) == content.size() && target.flush() && ::fsync(target.handle()) == 0)
        return true;
    target.remove();
    return false;
}

}  // namespace

bool folderHasOrdinaryFile(const QString& folder) {
    if (folder.isEmpty()) return false;
    return !QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty();
}

LoadResult applyOutputLocation(Settings& settings, Services& services, const OutputColumns& columns) {
    if (columns.locationNull) {
        services.prompts.message(QStringLiteral("Output file location folder needs to be configured!!!"));
        settings.outputFolder = services.appFolder;
        return LoadResult::Completed;
    }
    QString folder = columns.location;
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    // Only ordinary files count: a folder holding nothing but sub-folders is reported like a missing one.
    if (!folderHasOrdinaryFile(folder)) {
        services.prompts.beep();
        services.prompts.message(QStringLiteral("Output file location folder ") + folder +
                                 QStringLiteral(" does not exist!!!"));
    }
    settings.outputFolder = folder;
    return LoadResult::Completed;
}

LoadResult applyOutputType(Settings& settings, Services& services, const OutputColumns& columns,
                           OutputTypeMode mode) {
    Prompts& prompts = services.prompts;
    // An empty text is taken as not configured: any other reading would leave the output without one
    // of the three codes and every weighment unserved.
    const bool unset = columns.typeNull || columns.type.trimmed().isEmpty();
    if (unset && mode == OutputTypeMode::Save) return LoadResult::Completed;
    if (!columns.typeNull) settings.outputFiletype = columns.type;

    const QString type = columns.type.toUpper();
    if (!unset && type.contains(QLatin1String("ACCESS"))) {
        settings.outputTypeCode = QStringLiteral("3");
        settings.mdbFilePath = settings.outputFolder + QLatin1String(kExportDatabaseName);
        settings.outputFilePath = settings.mdbFilePath;
        if (fileExists(settings.mdbFilePath)) return LoadResult::Completed;

        prompts.beep();
        const QString templatePath = services.appFolder + QLatin1String(kExportDatabaseName);
        if (!fileExists(templatePath)) {
            prompts.beep();
            prompts.message(templatePath + QStringLiteral(" not found! This file was copied to ") +
                            services.appFolder +
                            QStringLiteral(" during installation time! Can't proceed without this file!!!!"));
            return LoadResult::EndProgram;
        }
        copyAsNewFile(templatePath, settings.mdbFilePath);
        if (fileExists(settings.mdbFilePath)) {
            prompts.beep();
            prompts.message(
                QStringLiteral("Output type is configured as access file. Copied the MDB (access) file ") +
                settings.mdbFilePath + QStringLiteral(" to ") + settings.outputFolder);
            return LoadResult::Completed;
        }
        prompts.message(
            QStringLiteral(
                "Output type is configured as access file. Could not copy the MDB (access) file ") +
            settings.mdbFilePath + QStringLiteral(" to ") + settings.outputFolder +
            QStringLiteral("!! Quitting!!"));
        return LoadResult::EndProgram;
    }

    if (unset) prompts.message(QStringLiteral("Output file type (CSV/Access) needs to be configured!!!"));
    const bool noHeadings =
        !unset && type.contains(QLatin1String("CSV")) && type.contains(QLatin1String("NO"));
    settings.outputTypeCode = noHeadings ? QStringLiteral("1") : QStringLiteral("2");
    settings.csvFilePath = settings.outputFolder + QLatin1String(kCsvFileName);
    settings.outputFilePath = settings.csvFilePath;
    return LoadResult::Completed;
}

}  // namespace veltrane
