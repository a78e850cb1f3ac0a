#pragma once
// The engine's connection and prepared statements, as the database layer's files share them: failures
// become DbError with the file's path, and no statement outlives its use with a read lock held.

#include "platform/database.h"

#include <sqlite3.h>

#include <QString>
#include <QVariant>
#include <QVariantList>

namespace veltrane::sqlite {

inline QString utf8(const char* text) {
    return QString::fromUtf8(text ? text : "");
}

class Connection {
public:
    Connection(sqlite3* db, QString path) : m_db(db), m_path(std::move(path)) {}
    ~Connection() { sqlite3_close_v2(m_db); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* handle() const { return m_db; }
    const QString& path() const { return m_path; }

    [[noreturn]] void fail(const QString& cause) const {
        throw DbError((m_path + QStringLiteral(": ") + cause).toStdString());
    }

    [[noreturn]] void failEngine(int rc) const {
        switch (rc & 0xff) {
            case SQLITE_NOTADB:
                fail(QStringLiteral("file is not a database or the database password is wrong"));
            case SQLITE_BUSY:
            case SQLITE_LOCKED:
                fail(QStringLiteral("the database is locked by another user or program (%1)")
                         .arg(utf8(sqlite3_errmsg(m_db))));
            default:
                fail(utf8(sqlite3_errmsg(m_db)));
        }
    }

private:
    sqlite3* m_db;
    QString m_path;
};

// Binds one value at a 1-based index, in the column-neutral form: yes/no as -1/0, dates as text.
void bindValue(const Connection& conn, sqlite3_stmt* stmt, int index, const QVariant& value);
// The value of a column of the current row; a null QVariant for Null.
QVariant columnValue(sqlite3_stmt* stmt, int column);

// One prepared statement. Every user resets or finalizes it at once, so that no statement keeps a
// read lock that would stall another program's write.
class Statement {
public:
    Statement(const Connection& conn, const QString& sql) : m_conn(conn) {
        const QByteArray text = sql.toUtf8();
        const int rc =
            sqlite3_prepare_v2(conn.handle(), text.constData(), int(text.size()), &m_stmt, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_finalize(m_stmt);
            conn.failEngine(rc);
        }
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(const QVariantList& values) {
        const int expected = sqlite3_bind_parameter_count(m_stmt);
        if (expected != values.size())
            m_conn.fail(QStringLiteral("the query needs %1 values and %2 were given")
                            .arg(expected)
                            .arg(values.size()));
        for (int i = 0; i < values.size(); ++i) bindValue(m_conn, m_stmt, i + 1, values[i]);
    }
    // True while a row is available. A failure resets the statement before it is reported.
    bool step() {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        sqlite3_reset(m_stmt);
        m_conn.failEngine(rc);
    }
    void reset() { sqlite3_reset(m_stmt); }
    void runToEnd() {
        while (step()) {
        }
        reset();
    }
    sqlite3_stmt* get() const { return m_stmt; }

private:
    const Connection& m_conn;
    sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace veltrane::sqlite
