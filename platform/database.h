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

class Database {
public:
    // connect: ";pwd=X" keys the file with X, an empty text opens it plain.
    // Throws DbError when the file is missing, the key is wrong, the file is not a database,
    // or the linked SQLite has no cipher support (a build error that must never write settings in the clear).
    static std::unique_ptr<Database> open(const QString& path, const QString& connect);
    // Creates a new file (fails when one exists). Used by the creation tool and tests.
    static std::unique_ptr<Database> create(const QString& path, const QString& connect);

    virtual ~Database() = default;
    // A record source: "select * from <table> [where ...] [order by ...]", with '?' placeholders bound
    // from binds. Throws DbError (missing table, bad query).
    virtual std::unique_ptr<RecordSet> openRecordSet(const QString& sql, const QVariantList& binds = {}) = 0;
    // Statements without a result (DDL, pragmas). Throws DbError.
    virtual void execute(const QString& sql, const QVariantList& binds = {}) = 0;
    virtual QString path() const = 0;
};

// A record set in the manner of the design: a current row, an end test, moves, and an edit buffer
// that add/edit fill and save writes. Rows are the result of the query at opening (plus rows this
// set added); other writers' later rows are not seen until the query is run again.
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
    virtual void setField(const QString& name, const QVariant& value) = 0;
    // Writes the edit buffer durably. Throws DbError (value does not fit, locked, read-only).
    virtual void update() = 0;
    virtual void cancelUpdate() = 0;
    // Deletes the current row; the position stays where the row was (the design's behaviour:
    // the row is gone and a move is needed). Throws DbError.
    virtual void deleteCurrent() = 0;
    // Makes the row last added or edited through this set the current row.
    virtual void moveToLastModified() = 0;
};

}  // namespace veltrane
