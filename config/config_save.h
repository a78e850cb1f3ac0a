#pragma once
// What the configuration window edits, how it reaches the first config row, and what its "Save" does.
// No widgets here: the window copies its controls into ConfigFormValues and back, so that the checks,
// the write and the settings applied at once run (and are tested) without a screen.

#include "config/settings.h"
#include "platform/database.h"
#include "platform/services.h"

#include <QString>
#include <QVariant>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace veltrane {

class Clock;

// The window's controls as plain values. Names are the controls' own; the arrays keep the indexes of
// the control arrays chkFields and txtFields (unused indexes stay false / empty).
struct ConfigFormValues {
    std::array<bool, 27> chkFields{};
    // 0 and 2: new password typed twice (unbound); 3: output folder; 7: the hidden box bound to pw.
    std::array<QString, 8> txtFields;
    QString Combo1;  // baud
    QString Combo2;  // port number
    QString Combo3;  // data bits
    QString Combo4;  // stop bits
    QString Combo5;  // parity
    QString Combo6;  // delimiter name
    QString Combo8;  // output file type
    QString Text2, Text3, Text4, Text5, Text6, Text7, Text9, Text10;
    QString text1;  // request string
    // Bound to controls nobody sees; they pass through a save unchanged.
    QVariant outputApplication;
    QString ApplicationName;
    // Device of each port number as shown or edited beside the port list (comports table).
    std::map<int, QString> portDevices;

    bool operator==(const ConfigFormValues&) const = default;
};

enum class ColumnKind { YesNo, Text, Byte, Int16, Int32, Single, Double };

// One bound control: where its value lives in ConfigFormValues and which column holds it.
struct ConfigBinding {
    const char* control;  // objectName in the window
    const char* column;
    ColumnKind kind;
    const char* label;                    // what the super-user reads beside the control, for messages
    QString* (*text)(ConfigFormValues&);  // text controls
    int check;                            // chkFields index for YesNo controls, else -1
    // An empty box stores Null (the loader has a default for the column); otherwise a number is needed.
    bool nullable;
};
const std::vector<ConfigBinding>& configBindings();

// A value the record would refuse, found before anything is written.
struct WriteRefusal {
    QString control;
    QString column;
    QString message;  // the whole operator message
};

// The window's own data source: the first row of table config in the settings database, opened with
// the settings key. Reads at opening; writes only on Save, and only the controls whose value differs
// from what was read, so that untouched columns (a Null among them) stay as they are.
class ConfigRecordSource {
public:
    // clock gives the time of the event that records a save (the system's clock when none is given).
    explicit ConfigRecordSource(QString databasePath, const Clock* clock = nullptr);

    // Reads the row. A column that is missing or unreadable leaves its control empty without a
    // message (the window's load goes on past single failures). False when the file or the row
    // cannot be read at all.
    bool read(ConfigFormValues& values);
    // The device the comports table gives a port number (the default device when it has no row).
    QString deviceOf(int portNumber);

    // Converts every changed control to its column; on the first value the record would refuse,
    // returns it and writes nothing. Otherwise writes the row (and the changed port devices) durably
    // and makes the written row current. A database failure is also returned as a refusal.
    std::optional<WriteRefusal> write(const ConfigFormValues& values);

    // A column of the row as stored now (Null told apart). Throws DbError.
    QVariant storedField(const QString& column);

private:
    void ensureOpen();
    std::optional<WriteRefusal> writeDevices(const ConfigFormValues& values);

    QString m_path;
    const Clock* m_clock;
    std::unique_ptr<Database> m_db;
    std::unique_ptr<RecordSet> m_rows;
    ConfigFormValues m_read;  // as read or last written: the base for "changed"
};

enum class SaveOutcome {
    Saved,       // every step ran
    Stopped,     // a check stopped Save with its message; the window stays open
    EndProgram,  // the export template could not be provided: the program must end at once
};

// Where the save hands the serial port its new number and settings text: the program's port control.
class PortSettingsTarget {
public:
    virtual ~PortSettingsTarget() = default;
    // Closes an open port so that the new settings apply; true when it was open.
    virtual bool closeForNewSettings() = 0;
    // Without a number (one that does not fit) the port keeps its own.
    virtual void setNewSettings(std::optional<int> portNumber, const QString& settingsText) = 0;
    virtual bool reopenWithRetries() = 0;
    virtual int portNumber() const = 0;
    // Why the last opening failed.
    virtual QString lastError() const = 0;
};

// The "Save" button: the checks, the write and the values applied at once.
class ConfigSave {
public:
    ConfigSave(ConfigRecordSource& source, Settings& settings, Services& services, PortSettingsTarget& port);
    // Corrects values in place (the window shows them afterwards).
    SaveOutcome save(ConfigFormValues& values);

private:
    // The check boxes the steps read, by their place in chkFields.
    static constexpr std::size_t kThrowString = 0;
    static constexpr std::size_t kByPosition = 9;
    static constexpr std::size_t kAutosense = 12;

    void requireOneDecodingMethod(ConfigFormValues& v);
    void takeNewPassword(ConfigFormValues& v);
    static void fillEmptyBoxes(ConfigFormValues& v);
    bool positionsArePositive(const ConfigFormValues& v);
    void applyDelimiterAndMethod(const ConfigFormValues& v);
    bool requestStringGiven(const ConfigFormValues& v);
    void keepOneDecodingMethod(ConfigFormValues& v);
    void applyWeightPositions(const ConfigFormValues& v);
    bool writeRecord(const ConfigFormValues& v);
    void applySerialSettings(const ConfigFormValues& v);
    void applyRequestAndDecimals(const ConfigFormValues& v);
    bool reopenPort();
    SaveOutcome applyOutputSettings();

    ConfigRecordSource& m_source;
    Settings& m_settings;
    Services& m_services;
    PortSettingsTarget& m_port;
    bool m_portWasOpen = false;
};

}  // namespace veltrane
