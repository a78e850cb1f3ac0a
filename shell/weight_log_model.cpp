#include "shell/weight_log_model.h"

#include "config/event_log.h"
#include "config/weight_chain.h"
#include "platform/clock.h"
#include "platform/database.h"

#include <QJsonArray>

#include <QLocale>
#include <QRegularExpression>

namespace veltrane {

std::optional<QDate> parseLogDate(const QString& text, const QLocale& locale) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return std::nullopt;
    QDate date = QDate::fromString(t, QStringLiteral("yyyy-MM-dd"));
    if (date.isValid()) return date;
    // Qt reads a year field of four letters only as four digits, and one of two letters as 19xx.
    static const QRegularExpression year(QStringLiteral("y+"));
    const QString shortFormat = locale.dateFormat(QLocale::ShortFormat);
    date = locale.toDate(t, QString(shortFormat).replace(year, QStringLiteral("yyyy")));
    if (!date.isValid()) {
        date = locale.toDate(t, QString(shortFormat).replace(year, QStringLiteral("yy")));
        if (date.isValid() && date.year() < 2000) date = date.addYears(100);
    }
    if (!date.isValid()) return std::nullopt;
    return date;
}

LogRange logRangeFor(const QDate& first, const QDate& last) {
    return {generalDate(QDateTime(first, QTime(0, 0))), generalDate(QDateTime(last.addDays(1), QTime(0, 0)))};
}

WeightLogModel::WeightLogModel(QObject* parent) : QAbstractTableModel(parent) {}

WeightLogModel::~WeightLogModel() = default;

void WeightLogModel::search(const LogRange& range) {
    // The bounds go in as values; nothing typed by the operator ever becomes part of the SQL text.
    auto set = m_database->openRecordSet(
        QStringLiteral("select * from weightlog where Datetime between ? and ? order by Datetime, slno"),
        {range.from, range.to});
    const int total = set->recordCount();
    set->moveFirst();
    beginResetModel();
    m_set = std::move(set);
    m_total = total;
    m_rows.clear();
    m_exhausted = total == 0;
    ++m_generation;
    endResetModel();
    if (!m_exhausted) loadPage();
}

bool WeightLogModel::loadPage() {
    std::vector<Row> page;
    int gone = 0;
    while (static_cast<int>(page.size()) < kPageSize && !m_set->isEof()) {
        try {
            page.push_back({m_set->field(QStringLiteral("slno")).toLongLong(),
                            m_set->field(QStringLiteral("Datetime")).toString(),
                            m_set->field(QStringLiteral("weight"))});
        } catch (const DbError&) {
            ++gone;  // deleted by another program since the search
        }
        m_set->moveNext();
    }
    m_total -= gone;
    if (m_set->isEof()) m_exhausted = true;
    if (page.empty()) return false;
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows({}, first, first + static_cast<int>(page.size()) - 1);
    for (Row& row : page) m_rows.push_back(std::move(row));
    endInsertRows();
    return true;
}

bool WeightLogModel::ensureLoaded(int row) {
    while (row >= static_cast<int>(m_rows.size()) && canFetchMore({})) fetchMore({});
    return row < static_cast<int>(m_rows.size());
}

int WeightLogModel::deleteRows(int row, int count, const QString& time) {
    if (count <= 0 || !ensureLoaded(row)) return 0;
    ensureLoaded(row + count - 1);
    const int n = std::min(count, static_cast<int>(m_rows.size()) - row);
    QVariantList slnos;
    QStringList marks;
    for (int i = row; i < row + n; ++i) {
        slnos << m_rows[static_cast<size_t>(i)].slno;
        marks << QStringLiteral("?");
    }
    const QString in = QStringLiteral(" where slno in (") + marks.join(QLatin1Char(',')) + QLatin1Char(')');
    // The rows as they are on disk, read in the deletion's transaction: what the event keeps is what went.
    inTransaction(*m_database, [&] {
        auto stored = m_database->openRecordSet(QStringLiteral("select * from weightlog") + in, slnos);
        QJsonArray rows;
        for (; !stored->isEof(); stored->moveNext()) {
            const QVariant digest = stored->hasField(QStringLiteral("digest"))
                                        ? stored->field(QStringLiteral("digest"))
                                        : QVariant();
            rows.append(QJsonObject{
                {QStringLiteral("slno"), stored->field(QStringLiteral("slno")).toLongLong()},
                {QStringLiteral("weight"), stored->field(QStringLiteral("weight")).toString()},
                {QStringLiteral("datetime"), stored->field(QStringLiteral("Datetime")).toString()},
                {QStringLiteral("digest"), digest.isNull() ? QJsonValue() : QJsonValue(digest.toString())}});
        }
        if (rows.isEmpty()) return;  // already deleted by another program
        appendEvent(*m_database, time, QLatin1String(eventkind::kDelete),
                    {{QStringLiteral("count"), rows.size()}, {QStringLiteral("rows"), rows}});
        m_database->execute(QStringLiteral("delete from weightlog") + in, slnos);
    });
    beginRemoveRows({}, row, row + n - 1);
    m_rows.erase(m_rows.begin() + row, m_rows.begin() + row + n);
    m_total -= n;
    endRemoveRows();
    return n;
}

int WeightLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int WeightLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant WeightLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= static_cast<int>(m_rows.size()))
        return {};
    const Row& row = m_rows[static_cast<size_t>(index.row())];
    switch (index.column()) {
        case 0:
            return row.datetime;
        case 1:
            return row.weight.toString();
        case 2:
            return QString::number(row.slno);  // as text: a view would group the digits of a number
        default:
            return {};
    }
}

QVariant WeightLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    static const char* headings[] = {"Date and time", "Weight", "Tracking no"};
    return section >= 0 && section < 3 ? QString::fromLatin1(headings[section]) : QVariant();
}

bool WeightLogModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !m_exhausted && static_cast<int>(m_rows.size()) < m_total;
}

void WeightLogModel::fetchMore(const QModelIndex& parent) {
    if (canFetchMore(parent)) loadPage();
}

}  // namespace veltrane
