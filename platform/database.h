#pragma once
// Database files: SQLCipher behind a small record-set interface of the kind the program was designed
// around (open with a connect string and a query, move, read and write columns by name).

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <memory>
#include <stdexcept>

namespace veltrane {

// Every database failure carries a description a person can act on, e.g.
// "scale.mdb: file is not a database or the password is wrong".
class DbError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    QString description() const { return QString::fromUtf8(what()); }
};

class RecordSet;

// The kinds of number a column value may arrive as (whole numbers as qlonglong, reals as double from
// a record set; other integer kinds from callers).
inline bool isWholeNumberValue(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
            return true;
        default:
            return false;
    }
}
inline bool isRealNumberValue(const QVariant& value) {
    return value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float;
}

class Database {
public:
    // connect: ";pwd=X" keys the file with X (the key name in any case), an empty text or an empty
    // password opens it plain. Never creates a file. Throws DbError when the file is missing, the key
    // is wrong, the file is not a database, or the linked SQLite has no cipher support (a build error
    // that must never write settings in the clear). Writes are durable (synchronous=FULL, rollback
    // journal); a statement that meets another program's lock waits about 2 s, then fails with a
    // description containing "locked".
    // SQL texts may use datevalue('YYYY-MM-DD'), which gives "YYYY-MM-DD 00:00:00" (also the system's
    // short date), to compare with the stored date-time texts.
    static std::unique_ptr<Database> open(const QString& path, const QString& connect);
    // Creates a new file (fails when one exists). Used by the creation tool and tests.
    static std::unique_ptr<Database> create(const QString& path, const QString& connect);

    virtual ~Database() = default;
    // A record source: "select * from <table> [where ...] [order by ...]", with '?' placeholders bound
    // from binds; without an order by, rows come in the order they were added. Throws DbError
    // (missing table, bad query, any other shape of query).
    virtual std::unique_ptr<RecordSet> openRecordSet(const QString& sql, const QVariantList& binds = {}) = 0;
    // Statements without a result (DDL, pragmas). Throws DbError.
    virtual void execute(const QString& sql, const QVariantList& binds = {}) = 0;
    virtual QString path() const = 0;
    // The key of the row the last successful insert on this connection added (0 before any).
    virtual qint64 lastInsertRowId() = 0;
};

// A record set in the manner of the design: a current row, an end test, moves, and an edit buffer
// that add/edit fill and save writes. The query runs when a count, a move or a column read first needs
// it (a set used only to add rows never reads the table); from then on the rows are that result plus
// the rows this set added, at its end. Other writers' later rows are not seen until a new set is
// opened. After the query has run the set is on its first row (or at its end when empty).
// Moves on an empty set leave it at both ends without failing; moveNext at the end and movePrevious
// before the start throw, as reading a column without a current row does.
class RecordSet {
public:
    virtual ~RecordSet() = default;

    virtual int recordCount() = 0;
    // Current position counted from 0; -1 when there is no current row.
    virtual int absolutePosition() = 0;
    virtual bool isEof() = 0;
    virtual bool isBof() = 0;
    virtual void moveFirst() = 0;
    virtual void moveLast() = 0;
    virtual void moveNext() = 0;
    virtual void movePrevious() = 0;

    // Column of the current row by name, ignoring case. A null QVariant is a database Null.
    // Throws DbError for an unknown column or when there is no current row.
    virtual QVariant field(const QString& name) = 0;
    virtual bool hasField(const QString& name) = 0;
    virtual QStringList fieldNames() = 0;

    virtual void addNew() = 0;
    virtual void edit() = 0;
    // Sets a column of the edit buffer, ignoring case. Throws DbError for an unknown column,
    // or when no add/edit is in progress. Values that do not fit the column fail at update().
    // What fits, by the column's declared type:
    //  - BOOLEAN: bool, any number (non-zero is yes), numeric text, "true/false", "yes/no", "on/off"
    //    in any case; stored as -1 or 0.
    //  - INTEGER: whole numbers; fractions round half to even; bool is -1/0; numeric text.
    //  - REAL (single) and DOUBLE: finite numbers within the type's range; numeric text ("." decimal).
    //  - TEXT: text; numbers in their shortest form, bool as "True"/"False", date-times as
    //    "YYYY-MM-DD HH:MM:SS". Binary data does not fit.
    //  - Empty or blank text in a numeric or yes/no column is stored as Null (a cleared box);
    //    any other non-numeric text there does not fit. A null QVariant is Null everywhere.
    virtual void setField(const QString& name, const QVariant& value) = 0;
    // Writes the edit buffer durably. Throws DbError (value does not fit, locked, read-only, the row
    // was deleted by another user); the buffer is kept after a failure, so the save can be retried.
    virtual void update() = 0;
    virtual void cancelUpdate() = 0;
    // Deletes the current row; the position stays where the row was (the row is gone and a move is
    // needed: moveNext goes to the row after it, absolutePosition is -1 until then). The count
    // drops at once. Throws DbError.
    virtual void deleteCurrent() = 0;
    // Makes the row last added or edited through this set the current row.
    virtual void moveToLastModified() = 0;
};

}  // namespace veltrane
