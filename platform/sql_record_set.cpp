#include "platform/sql_record_set.h"

#include "platform/column_kinds.h"

#include <QRegularExpression>

#include <map>
#include <optional>
#include <unordered_set>
#include <vector>

namespace veltrane::sqlite {
namespace {

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
            // New rows join the set at its end, where a reader of the set looks for the row just added.
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

}  // namespace

std::unique_ptr<RecordSet> openRecordSet(std::shared_ptr<Connection> conn, const QString& sql,
                                         const QVariantList& binds) {
    const auto source = parseRecordSource(sql);
    if (!source)
        conn->fail(QStringLiteral("unsupported record source '%1' (expected select * from <table> "
                                  "[where ...] [order by ...])")
                       .arg(sql));
    return std::make_unique<SqlRecordSet>(std::move(conn), *source, binds);
}

}  // namespace veltrane::sqlite
