#include "shell/weight_log_model.h"

#include "platform/clock.h"
#include "platform/database.h"

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

void WeightLogModel::deleteRow(int row) {
    if (!ensureLoaded(row)) return;
    m_database->execute(QStringLiteral("delete from weightlog where slno = ?"),
                        {m_rows[static_cast<size_t>(row)].slno});
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    --m_total;
    endRemoveRows();
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
