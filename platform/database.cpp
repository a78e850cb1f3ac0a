#include "platform/database.h"

#include "platform/clock.h"
#include "platform/sql_record_set.h"
#include "platform/sqlite_statement.h"

#include <sqlite3.h>

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <optional>

namespace veltrane {
namespace {

using sqlite::Connection;
using sqlite::Statement;
using sqlite::utf8;

// Long enough to ride out another program's commit, short enough that a serving does not hang.
constexpr int kBusyTimeoutMs = 2000;

QString passwordOf(const QString& connect) {
    for (const QString& part : connect.split(QLatin1Char(';'))) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq < 0) continue;
        if (part.left(eq).trimmed().compare(QLatin1String("pwd"), Qt::CaseInsensitive) == 0)
            return part.mid(eq + 1);
    }
    return {};
}

// datevalue(text): the date part of a date text as the start of that day, "YYYY-MM-DD 00:00:00", so
// that "between datevalue(a) and datevalue(b)" compares with the stored date-time texts and still uses
// the index on them.
std::optional<QDate> parseDate(const QString& raw) {
    const QString text = raw.trimmed();
    QDate date = QDate::fromString(text.left(10), Qt::ISODate);
    if (date.isValid()) return date;
    const QLocale locale = QLocale::system();
    for (const QString& format :
         {locale.dateFormat(QLocale::ShortFormat), locale.dateFormat(QLocale::LongFormat)}) {
        date = locale.toDate(text, format);
        if (date.isValid()) return date;
    }
    return std::nullopt;
}

void dateValueFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (argc != 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const QString text = utf8(reinterpret_cast<const char*>(sqlite3_value_text(argv[0])));
    const auto date = parseDate(text);
    if (!date) {
        const QByteArray message = QStringLiteral("datevalue: '%1' is not a date").arg(text).toUtf8();
        sqlite3_result_error(context, message.constData(), int(message.size()));
        return;
    }
    const QByteArray result = (shortDate(*date) + QStringLiteral(" 00:00:00")).toUtf8();
    sqlite3_result_text(context, result.constData(), int(result.size()), SQLITE_TRANSIENT);
}

class SqlDatabase final : public Database {
public:
    explicit SqlDatabase(std::shared_ptr<Connection> conn) : m_conn(std::move(conn)) {}

    std::unique_ptr<RecordSet> openRecordSet(const QString& sql, const QVariantList& binds) override {
        return sqlite::openRecordSet(m_conn, sql, binds);
    }

    void execute(const QString& sql, const QVariantList& binds) override {
        if (!binds.isEmpty()) {
            Statement statement(*m_conn, sql);
            statement.bind(binds);
            statement.runToEnd();
            return;
        }
        // Without values, a script of several statements runs in turn.
        const QByteArray text = sql.toUtf8();
        const char* tail = text.constData();
        while (tail && *tail) {
            sqlite3_stmt* raw = nullptr;
            const char* next = nullptr;
            const int rc = sqlite3_prepare_v2(m_conn->handle(), tail, -1, &raw, &next);
            if (rc != SQLITE_OK) {
                sqlite3_finalize(raw);
                m_conn->failEngine(rc);
            }
            tail = next;
            if (!raw) continue;  // blanks or a comment
            int step = SQLITE_ROW;
            while (step == SQLITE_ROW) step = sqlite3_step(raw);
            sqlite3_finalize(raw);
            if (step != SQLITE_DONE) m_conn->failEngine(step);
        }
    }

    QString path() const override { return m_conn->path(); }
    qint64 lastInsertRowId() override { return sqlite3_last_insert_rowid(m_conn->handle()); }

private:
    std::shared_ptr<Connection> m_conn;
};

DbError errorFor(const QString& path, const QString& cause) {
    return DbError((path + QStringLiteral(": ") + cause).toStdString());
}

std::unique_ptr<Database> connect(const QString& path, const QString& connectString) {
    const auto failWith = [&](const QString& cause) { return errorFor(path, cause); };
    // Never create a database by opening it: a mistyped path must not become an empty settings file.
    if (!QFileInfo(path).isFile()) throw failWith(QStringLiteral("file not found"));

    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    auto conn = std::make_shared<Connection>(raw, path);
    if (rc != SQLITE_OK) {
        if (!raw) throw failWith(QStringLiteral("out of memory"));
        conn->failEngine(rc);
    }
    const QString password = passwordOf(connectString);
    if (!password.isEmpty()) {
        const QByteArray key = password.toUtf8();
        if (sqlite3_key(raw, key.constData(), int(key.size())) != SQLITE_OK)
            conn->fail(QStringLiteral("cannot set the database password"));
    }

    // A build that picked up plain SQLite would write the settings in the clear: refuse to work.
    QString cipherVersion;
    {
        Statement version(*conn, QStringLiteral("PRAGMA cipher_version"));
        if (version.step())
            cipherVersion = utf8(reinterpret_cast<const char*>(sqlite3_column_text(version.get(), 0)));
        version.reset();
        if (cipherVersion.isEmpty())
            conn->fail(
                QStringLiteral("the database library has no encryption support (plain SQLite was linked); "
                               "refusing to use it"));
    }
    // Every keyed file of this program is in SQLCipher 3's format (1024-byte pages, PBKDF2-HMAC-SHA1 with
    // 64,000 iterations, HMAC-SHA1 page checks): sites keep their files across upgrades, and Debian 12
    // ships the 3.x library. SQLCipher 4 changed each of those defaults and reads the old format only
    // when told to, so from generation 4 on the connection is told with cipher_compatibility = 3. That
    // pragma is the library's own name for exactly the old set, so no single setting can be missed or
    // drift, and files made under 4.x stay readable by 3.x (and by the sqlcipher tool an administrator
    // has there). 3.x has those settings as its defaults and does not know the pragma.
    if (!password.isEmpty() && cipherVersion.section(QLatin1Char('.'), 0, 0).toInt() >= 4)
        Statement(*conn, QStringLiteral("PRAGMA cipher_compatibility = 3")).runToEnd();

    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    // A wrong or missing key shows here, at the first read of the file.
    Statement(*conn, QStringLiteral("select count(*) from sqlite_master")).runToEnd();

    Statement mode(*conn, QStringLiteral("PRAGMA journal_mode"));
    const bool wal = mode.step() && utf8(reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0)))
                                            .compare(QLatin1String("delete"), Qt::CaseInsensitive) != 0;
    mode.reset();
    // One file, no side files that other programs reading the export would have to know about.
    if (wal) Statement(*conn, QStringLiteral("PRAGMA journal_mode = DELETE")).runToEnd();
    // A commit in rollback-journal mode is the journal's deletion. FULL syncs the database file but not
    // the folder after that deletion, so a power cut can bring the journal back and roll the last
    // weighment out of the log after the output file already showed it. EXTRA syncs the folder too.
    // WAL with synchronous FULL would be as durable at a fifth of the cost (BENCHMARKS.md), but leaves
    // -wal and -shm files beside the database: the export file would no longer be one file any program
    // can read. A serving comes every few seconds at most; the rollback journal's flushes do not show.
    Statement(*conn, QStringLiteral("PRAGMA synchronous = EXTRA")).runToEnd();

    const int fn = sqlite3_create_function_v2(raw, "datevalue", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                              nullptr, &dateValueFunction, nullptr, nullptr, nullptr);
    if (fn != SQLITE_OK) conn->failEngine(fn);
    return std::make_unique<SqlDatabase>(std::move(conn));
}

}  // namespace

std::unique_ptr<Database> Database::open(const QString& path, const QString& connect) {
    return veltrane::connect(path, connect);
}

std::unique_ptr<Database> Database::create(const QString& path, const QString& connect) {
    {
        QFile file(path);  // NewOnly: an existing file is never touched
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            throw errorFor(path, QFileInfo::exists(path)
                                     ? QStringLiteral("file already exists")
                                     : QStringLiteral("cannot create the file (%1)").arg(file.errorString()));
    }
    try {
        return veltrane::connect(path, connect);
    } catch (const DbError&) {
        QFile::remove(path);  // the empty file made above, nothing older
        throw;
    }
}

}  // namespace veltrane
