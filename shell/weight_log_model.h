#pragma once
// The weight log of a range of days, as the log viewer's grid shows it. The search holds the range's
// record set, which knows only the row ids (one walk of the Datetime index); the rows themselves are
// read a page at a time as the grid scrolls, so a range of a million records opens quickly.

#include <QAbstractTableModel>
#include <QDate>
#include <QLocale>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>
#include <vector>

namespace veltrane {

class Database;
class RecordSet;

// A date typed into a date box: YYYY-MM-DD, or the locale's short date with a four-digit or a two-digit
// year (26 is 2026: a weight log holds no weighments of the last century). Nothing for anything else.
std::optional<QDate> parseLogDate(const QString& text, const QLocale& locale = QLocale::system());

// The bounds of a search, both inclusive, as Datetime texts: 00:00:00 of the first day up to and
// including 00:00:00 of the day after the last day.
struct LogRange {
    QString from;
    QString to;
};
LogRange logRangeFor(const QDate& first, const QDate& last);

class WeightLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPageSize = 256;

    explicit WeightLogModel(QObject* parent = nullptr);
    ~WeightLogModel() override;

    void setDatabase(Database* database) { m_database = database; }

    // Runs the range query; records appended after it are not part of the result. Throws DbError.
    void search(const LogRange& range);
    // Records in the result (all of them, loaded or not).
    int total() const { return m_total; }
    // Counts searches and deletions' resets, so a loop that lets events run can tell its result went away.
    int generation() const { return m_generation; }

    // Deletes up to count records of the result from the given row on, in one transaction with the
    // event that records each of them as it was (time is the event's). Returns how many rows left the
    // result. Throws DbError; the rows stay then.
    int deleteRows(int row, int count, const QString& time);
    // Loads pages until the row is loaded; false when the result has fewer rows.
    bool ensureLoaded(int row);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    struct Row {
        qint64 slno;
        QString datetime;
        QVariant weight;
    };
    bool loadPage();

    Database* m_database = nullptr;
    // The result of the last search; its current row is the next one to load.
    std::unique_ptr<RecordSet> m_set;
    int m_total = 0;
    int m_generation = 0;
    bool m_exhausted = true;
    std::vector<Row> m_rows;
};

}  // namespace veltrane
