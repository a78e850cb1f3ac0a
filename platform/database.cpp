#include "platform/database.h"

#include "platform/clock.h"

#include <sqlite3.h>

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <cfloat>
#include <cmath>
#include <map>
#include <optional>
#include <unordered_set>
#include <vector>

namespace veltrane {
namespace {

// Long enough to ride out another program's commit, short enough that a serving does not hang.
constexpr int kBusyTimeoutMs = 2000;

QString utf8(const char* text) {
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

void bindValue(const Connection& conn, sqlite3_stmt* stmt, int index, const QVariant& value) {
    int rc = SQLITE_OK;
    if (!value.isValid() || value.isNull()) {
        rc = sqlite3_bind_null(stmt, index);
    } else {
        switch (value.typeId()) {
            case QMetaType::Bool:
                // Yes/no is -1/0 in these files, as the original engine stored it.
                rc = sqlite3_bind_int64(stmt, index, value.toBool() ? -1 : 0);
                break;
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
                rc = sqlite3_bind_int64(stmt, index, value.toLongLong());
                break;
            case QMetaType::Double:
            case QMetaType::Float:
                rc = sqlite3_bind_double(stmt, index, value.toDouble());
                break;
            case QMetaType::QByteArray: {
                const QByteArray bytes = value.toByteArray();
                rc = sqlite3_bind_blob64(stmt, index, bytes.constData(), sqlite3_uint64(bytes.size()),
                                         SQLITE_TRANSIENT);
                break;
            }
            default: {
                QString text;
                if (value.typeId() == QMetaType::QDateTime)
                    text = generalDate(value.toDateTime());
                else if (value.typeId() == QMetaType::QDate)
                    text = shortDate(value.toDate());
                else if (value.typeId() == QMetaType::QTime)
                    text = longTime(value.toTime());
                else
                    text = value.toString();
                const QByteArray bytes = text.toUtf8();
                rc = sqlite3_bind_text64(stmt, index, bytes.constData(), sqlite3_uint64(bytes.size()),
                                         SQLITE_TRANSIENT, SQLITE_UTF8);
            }
        }
    }
    if (rc != SQLITE_OK) conn.failEngine(rc);
}

QVariant columnValue(sqlite3_stmt* stmt, int column) {
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_INTEGER:
            return QVariant(qlonglong(sqlite3_column_int64(stmt, column)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(stmt, column));
        case SQLITE_TEXT:
            return QVariant(
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                                  sqlite3_column_bytes(stmt, column)));
        case SQLITE_BLOB:
            return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, column)),
                                       sqlite3_column_bytes(stmt, column)));
        default:
            return {};
    }
}

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

// What a column accepts, from its declared type.
enum class Kind { Any, Text, Integer, Boolean, Single, Double };

Kind kindOf(const char* declared) {
    const QString type = utf8(declared).toUpper();
    if (type.isEmpty()) return Kind::Any;
    if (type.contains(QLatin1String("BOOL")) || type.contains(QLatin1String("YESNO")) ||
        type == QLatin1String("BIT"))
        return Kind::Boolean;
    if (type.contains(QLatin1String("INT"))) return Kind::Integer;
    if (type.contains(QLatin1String("REAL")) || type.contains(QLatin1String("SINGLE"))) return Kind::Single;
    if (type.contains(QLatin1String("DOUB")) || type.contains(QLatin1String("FLOA")) ||
        type.contains(QLatin1String("NUMERIC")) || type.contains(QLatin1String("DECIMAL")) ||
        type.contains(QLatin1String("CURRENCY")))
        return Kind::Double;
    if (type.contains(QLatin1String("CHAR")) || type.contains(QLatin1String("TEXT")) ||
        type.contains(QLatin1String("CLOB")))
        return Kind::Text;
    return Kind::Any;
}

// The value as stored in a column of the given kind, or nothing when it does not fit.
// Empty or blank text in a numeric or yes/no column is stored as Null (a cleared box).
std::optional<QVariant> fitValue(const QVariant& value, Kind kind) {
    if (!value.isValid() || value.isNull()) return QVariant();
    const int type = value.typeId();
    if (kind == Kind::Any) return value;
    if (kind == Kind::Text) {
        if (type == QMetaType::Bool)
            return QVariant(value.toBool() ? QStringLiteral("True") : QStringLiteral("False"));
        if (type == QMetaType::QDateTime) return QVariant(generalDate(value.toDateTime()));
        if (type == QMetaType::QDate) return QVariant(shortDate(value.toDate()));
        if (type == QMetaType::QTime) return QVariant(longTime(value.toTime()));
        if (type == QMetaType::QByteArray || !value.canConvert<QString>()) return std::nullopt;
        return QVariant(value.toString());
    }

    // Numeric and yes/no kinds: take a number from the value.
    double number = 0;
    bool exact = false;  // integer source, no rounding needed
    qlonglong integer = 0;
    if (type == QMetaType::Bool) {
        integer = value.toBool() ? -1 : 0;
        number = double(integer);
        exact = true;
    } else if (isWholeNumberValue(value) || isRealNumberValue(value)) {
        if (type == QMetaType::Double || type == QMetaType::Float) {
            number = value.toDouble();
        } else if (type == QMetaType::ULongLong || type == QMetaType::ULong) {
            const qulonglong u = value.toULongLong();
            if (u > qulonglong(std::numeric_limits<qlonglong>::max())) return std::nullopt;
            integer = qlonglong(u);
            number = double(integer);
            exact = true;
        } else {
            integer = value.toLongLong();
            number = double(integer);
            exact = true;
        }
    } else if (type == QMetaType::QString || value.canConvert<QString>()) {
        if (type == QMetaType::QByteArray) return std::nullopt;
        const QString text = value.toString().trimmed();
        if (text.isEmpty()) return QVariant();
        if (kind == Kind::Boolean) {
            static const QStringList yes{QStringLiteral("true"), QStringLiteral("yes"), QStringLiteral("on")};
            static const QStringList no{QStringLiteral("false"), QStringLiteral("no"), QStringLiteral("off")};
            if (yes.contains(text, Qt::CaseInsensitive)) return QVariant(qlonglong(-1));
            if (no.contains(text, Qt::CaseInsensitive)) return QVariant(qlonglong(0));
        }
        bool ok = false;
        number = text.toDouble(&ok);  // C locale: "." whatever the system says
        if (!ok) return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (!exact && !std::isfinite(number)) return std::nullopt;

    switch (kind) {
        case Kind::Boolean:
            return QVariant(qlonglong(number != 0 || integer != 0 ? -1 : 0));
        case Kind::Integer: {
            if (exact) return QVariant(integer);
            // Half to even, as the original engine converted fractions to whole numbers.
            const double rounded = std::nearbyint(number);
            if (rounded < -9223372036854775808.0 || rounded >= 9223372036854775808.0) return std::nullopt;
            return QVariant(qlonglong(rounded));
        }
        case Kind::Single:
            if (std::fabs(number) > double(FLT_MAX)) return std::nullopt;
            return QVariant(number);
        default:
            return QVariant(number);
    }
}

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::Text:
            return "text";
        case Kind::Integer:
            return "whole number";
        case Kind::Boolean:
            return "yes/no";
        case Kind::Single:
            return "single-precision number";
        case Kind::Double:
            return "number";
        default:
            return "value";
    }
}

// "select * from <table> <rest>": the only record source shape the program uses. The table is read
// by row id, so a set can be counted, moved and edited without holding the rows in memory.
struct RecordSource {
    QString table;  // as written, quotes kept
    QString rest;   // where / order by, as written
};

std::optional<RecordSource> parseRecordSource(const QString& sql) {
    static const QRegularExpression pattern(
        QStringLiteral(
            R"(^\s*select\s+\*\s+from\s+(\[[^\]]+\]|"[^"]+"|`[^`]+`|[A-Za-z_][A-Za-z0-9_]*)(?![A-Za-z0-9_$])(.*)$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const auto match = pattern.match(sql);
    if (!match.hasMatch()) return std::nullopt;
    return RecordSource{match.captured(1), match.captured(2)};
}

QString bareName(QString table) {
    if (table.size() >= 2 && QStringLiteral("[\"`").contains(table.front()))
        table = table.mid(1, table.size() - 2);
    return table;
}

class SqlRecordSet final : public RecordSet {
public:
    SqlRecordSet(std::shared_ptr<Connection> conn, const RecordSource& source, const QVariantList& binds)
        : m_conn(std::move(conn)), m_table(source.table), m_tableName(bareName(source.table)) {
        // Preparing checks the table and the query now; the rows are read only when first needed.
        // Without an order the engine may walk an index instead of the table; rows then come in the
        // order they were added, so that "the first row" means the same thing every time.
        static const QRegularExpression orderBy(QStringLiteral(R"(\border\s+by\b)"),
                                                QRegularExpression::CaseInsensitiveOption);
        QString rest = source.rest;
        if (!rest.contains(orderBy)) {
            rest = rest.trimmed();
            while (rest.endsWith(QLatin1Char(';'))) rest.chop(1);
            rest = QLatin1Char(' ') + rest + QStringLiteral(" order by rowid");
        }
        m_keyQuery =
            std::make_unique<Statement>(*m_conn, QStringLiteral("select rowid from ") + m_table + rest);
        m_keyQuery->bind(binds);
        m_fetch = std::make_unique<Statement>(
            *m_conn, QStringLiteral("select * from ") + m_table + QStringLiteral(" where rowid = ?"));
        const int count = sqlite3_column_count(m_fetch->get());
        for (int i = 0; i < count; ++i) {
            m_columns.push_back(utf8(sqlite3_column_name(m_fetch->get(), i)));
            m_kinds.push_back(kindOf(sqlite3_column_decltype(m_fetch->get(), i)));
        }
    }

    int recordCount() override {
        load();
        return int(m_keys.size());
    }
    int absolutePosition() override { return hasCurrent() ? m_pos : -1; }
    bool isEof() override {
        load();
        return m_pos >= size();
    }
    bool isBof() override {
        load();
        return m_keys.empty() || m_pos < 0;
    }
    void moveFirst() override {
        load();
        m_deleted = false;
        m_pos = 0;
    }
    void moveLast() override {
        load();
        m_deleted = false;
        m_pos = size() - 1;
        if (m_keys.empty()) m_pos = 0;
    }
    void moveNext() override {
        load();
        if (m_deleted) {  // the row after the deleted one already sits at the position
            m_deleted = false;
            return;
        }
        if (m_pos >= size())
            m_conn->fail(
                QStringLiteral("no current record (already past the last record of %1)").arg(m_tableName));
        ++m_pos;
    }
    void movePrevious() override {
        load();
        m_deleted = false;
        if (m_pos < 0)
            m_conn->fail(
                QStringLiteral("no current record (already before the first record of %1)").arg(m_tableName));
        --m_pos;
    }

    QVariant field(const QString& name) override {
        const int column = columnIndex(name);
        const qint64 key = currentKey();
        if (!m_cacheValid || m_cachedKey != key) {
            sqlite3_bind_int64(m_fetch->get(), 1, key);
            const bool found = m_fetch->step();
            if (!found) {
                m_fetch->reset();
                m_conn->fail(
                    QStringLiteral("the current record of %1 was deleted by another user").arg(m_tableName));
            }
            m_cached.clear();
            for (int i = 0; i < int(m_columns.size()); ++i)
                m_cached.push_back(columnValue(m_fetch->get(), i));
            m_fetch->reset();
            m_cachedKey = key;
            m_cacheValid = true;
        }
        return m_cached[std::size_t(column)];
    }
    bool hasField(const QString& name) override { return findColumn(name) >= 0; }
    QStringList fieldNames() override { return QStringList(m_columns.begin(), m_columns.end()); }

    void addNew() override {
        m_mode = Mode::Add;
        m_buffer.clear();
    }
    void edit() override {
        m_editKey = currentKey();
        m_mode = Mode::Edit;
        m_buffer.clear();
    }
    void setField(const QString& name, const QVariant& value) override {
        const int column = columnIndex(name);
        if (m_mode == Mode::None)
            m_conn->fail(
                QStringLiteral("set %1 without add or edit in progress").arg(m_columns[std::size_t(column)]));
        m_buffer[column] = value;
    }
    void update() override {
        if (m_mode == Mode::None)
            m_conn->fail(QStringLiteral("update without add or edit in progress on %1").arg(m_tableName));
        QStringList names;
        QVariantList values;
        for (const auto& [column, raw] : m_buffer) {
            const auto fitted = fitValue(raw, m_kinds[std::size_t(column)]);
            if (!fitted)
                m_conn->fail(QStringLiteral("the value '%1' does not fit column %2 (%3) of table %4")
                                 .arg(raw.toString(), m_columns[std::size_t(column)],
                                      QString::fromLatin1(kindName(m_kinds[std::size_t(column)])),
                                      m_tableName));
            names << QLatin1Char('"') +
                         QString(m_columns[std::size_t(column)])
                             .replace(QLatin1Char('"'), QLatin1String("\"\"")) +
                         QLatin1Char('"');
            values << *fitted;
        }
        m_cacheValid = false;
        if (m_mode == Mode::Add) {
            QString sql = QStringLiteral("insert into ") + m_table;
            if (names.isEmpty()) {
                sql += QStringLiteral(" default values");
            } else {
                QStringList marks;
                for (qsizetype i = 0; i < names.size(); ++i) marks << QStringLiteral("?");
                sql += QStringLiteral(" (") + names.join(QLatin1Char(',')) + QStringLiteral(") values (") +
                       marks.join(QLatin1Char(',')) + QLatin1Char(')');
            }
            Statement insert(*m_conn, sql);
            insert.bind(values);
            insert.runToEnd();
            const qint64 key = sqlite3_last_insert_rowid(m_conn->handle());
            // New rows join the set at its end, as they did in the original engine's dynamic sets.
            if (m_loaded)
                m_keys.push_back(key);
            else
                m_added.push_back(key);
            m_lastModified = key;
        } else if (!names.isEmpty()) {
            QStringList assignments;
            for (const QString& n : names) assignments << n + QStringLiteral(" = ?");
            Statement change(*m_conn, QStringLiteral("update ") + m_table + QStringLiteral(" set ") +
                                          assignments.join(QLatin1Char(',')) +
                                          QStringLiteral(" where rowid = ?"));
            values << QVariant(qlonglong(m_editKey));
            change.bind(values);
            change.runToEnd();
            if (sqlite3_changes(m_conn->handle()) == 0)
                m_conn->fail(QStringLiteral("the record being edited in %1 was deleted by another user")
                                 .arg(m_tableName));
            m_lastModified = m_editKey;
        } else {
            m_lastModified = m_editKey;
        }
        m_mode = Mode::None;
        m_buffer.clear();
    }
    void cancelUpdate() override {
        m_mode = Mode::None;
        m_buffer.clear();
    }
    void deleteCurrent() override {
        const qint64 key = currentKey();
        Statement remove(*m_conn,
                         QStringLiteral("delete from ") + m_table + QStringLiteral(" where rowid = ?"));
        remove.bind({QVariant(qlonglong(key))});
        remove.runToEnd();
        m_keys.erase(m_keys.begin() + m_pos);
        m_deleted = true;
        m_cacheValid = false;
        if (m_lastModified == key) m_lastModified.reset();
    }
    void moveToLastModified() override {
        if (!m_lastModified)
            m_conn->fail(
                QStringLiteral("no record of %1 was added or changed through this set").arg(m_tableName));
        load();
        for (int i = size() - 1; i >= 0; --i) {
            if (m_keys[std::size_t(i)] == *m_lastModified) {
                m_pos = i;
                m_deleted = false;
                return;
            }
        }
        m_conn->fail(QStringLiteral("the record last changed in %1 is no longer there").arg(m_tableName));
    }

private:
    enum class Mode { None, Add, Edit };

    int size() const { return int(m_keys.size()); }
    bool hasCurrent() const { return m_loaded && !m_deleted && m_pos >= 0 && m_pos < size(); }

    void load() {
        if (m_loaded) return;
        std::vector<qint64> keys;
        while (m_keyQuery->step()) keys.push_back(sqlite3_column_int64(m_keyQuery->get(), 0));
        m_keyQuery.reset();
        if (!m_added.empty()) {
            // Rows added before the first read belong to the set even when the query does not select them.
            const std::unordered_set<qint64> present(keys.begin(), keys.end());
            for (qint64 key : m_added)
                if (!present.count(key)) keys.push_back(key);
            m_added.clear();
        }
        m_keys = std::move(keys);
        m_loaded = true;
        m_pos = 0;
    }
    qint64 currentKey() {
        load();
        if (!hasCurrent()) {
            m_conn->fail(m_deleted ? QStringLiteral(
                                         "the current record of %1 was deleted; move to another record first")
                                         .arg(m_tableName)
                                   : QStringLiteral("no current record in %1").arg(m_tableName));
        }
        return m_keys[std::size_t(m_pos)];
    }
    int findColumn(const QString& name) const {
        for (std::size_t i = 0; i < m_columns.size(); ++i)
            if (m_columns[i].compare(name, Qt::CaseInsensitive) == 0) return int(i);
        return -1;
    }
    int columnIndex(const QString& name) const {
        const int index = findColumn(name);
        if (index < 0)
            m_conn->fail(QStringLiteral("table %1 has no column named '%2'").arg(m_tableName, name));
        return index;
    }

    std::shared_ptr<Connection> m_conn;
    QString m_table;
    QString m_tableName;
    std::unique_ptr<Statement> m_keyQuery;
    std::unique_ptr<Statement> m_fetch;
    std::vector<QString> m_columns;
    std::vector<Kind> m_kinds;

    bool m_loaded = false;
    std::vector<qint64> m_keys;
    std::vector<qint64> m_added;
    int m_pos = 0;
    bool m_deleted = false;

    bool m_cacheValid = false;
    qint64 m_cachedKey = 0;
    std::vector<QVariant> m_cached;

    Mode m_mode = Mode::None;
    qint64 m_editKey = 0;
    std::map<int, QVariant> m_buffer;
    std::optional<qint64> m_lastModified;
};

class SqlDatabase final : public Database {
public:
    explicit SqlDatabase(std::shared_ptr<Connection> conn) : m_conn(std::move(conn)) {}

    std::unique_ptr<RecordSet> openRecordSet(const QString& sql, const QVariantList& binds) override {
        const auto source = parseRecordSource(sql);
        if (!source)
            m_conn->fail(QStringLiteral("unsupported record source '%1' (expected select * from <table> "
                                        "[where ...] [order by ...])")
                             .arg(sql));
        return std::make_unique<SqlRecordSet>(m_conn, *source, binds);
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
    {
        Statement version(*conn, QStringLiteral("PRAGMA cipher_version"));
        const bool answered =
            version.step() &&
            !utf8(reinterpret_cast<const char*>(sqlite3_column_text(version.get(), 0))).isEmpty();
        version.reset();
        if (!answered)
            conn->fail(
                QStringLiteral("the database library has no encryption support (plain SQLite was linked); "
                               "refusing to use it"));
    }

    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    // A wrong or missing key shows here, at the first read of the file.
    Statement(*conn, QStringLiteral("select count(*) from sqlite_master")).runToEnd();

    Statement mode(*conn, QStringLiteral("PRAGMA journal_mode"));
    const bool wal = mode.step() && utf8(reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0)))
                                            .compare(QLatin1String("delete"), Qt::CaseInsensitive) != 0;
    mode.reset();
    // One file, no side files that other programs reading the export would have to know about.
    if (wal) Statement(*conn, QStringLiteral("PRAGMA journal_mode = DELETE")).runToEnd();
    Statement(*conn, QStringLiteral("PRAGMA synchronous = FULL")).runToEnd();

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
