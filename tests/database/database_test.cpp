#include "platform/database.h"
#include "tests/support/fakes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <utility>
#include <vector>

using namespace veltrane;

namespace {

// The default file layer with its deletions recorded. A commit in rollback-journal mode is the journal's
// deletion, and only a deletion that syncs its folder is still a commit after a power cut.
struct DeletionLog {
    static int remove(sqlite3_vfs*, const char* name, int syncFolder) {
        deletions.emplace_back(name, syncFolder);
        return real->xDelete(real, name, syncFolder);
    }
    static void install() {
        if (real) return;
        real = sqlite3_vfs_find(nullptr);
        recording = *real;
        recording.zName = "recording";
        recording.xDelete = &remove;
        sqlite3_vfs_register(&recording, 1);
    }
    static inline sqlite3_vfs* real = nullptr;
    static inline sqlite3_vfs recording{};
    static inline std::vector<std::pair<std::string, int>> deletions;
};

class DatabaseTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // A keyed file with a small weight log.
    std::unique_ptr<Database> makeLog(int rows, const QString& connect = QStringLiteral(";pwd=k1")) {
        auto db = Database::create(path(QStringLiteral("log.mdb")), connect);
        db->execute(QStringLiteral(
            "create table weightlog (slno INTEGER PRIMARY KEY AUTOINCREMENT, Datetime TEXT, weight TEXT);"
            "create index weightlog_datetime on weightlog(Datetime);"));
        for (int i = 1; i <= rows; ++i)
            db->execute(QStringLiteral("insert into weightlog (Datetime, weight) values (?, ?)"),
                        {QStringLiteral("2026-03-%1 10:00:00").arg(i, 2, 10, QLatin1Char('0')),
                         QString::number(i * 100)});
        return db;
    }

    static QString describe(const std::function<void()>& action) {
        try {
            action();
        } catch (const DbError& e) {
            return e.description();
        }
        return QStringLiteral("<no error>");
    }

    QTemporaryDir m_dir;
};

TEST_F(DatabaseTest, EncryptedRoundTripAndKeyFailures) {
    {
        auto db = makeLog(0, QStringLiteral("; PWD=secret"));
        auto rs = db->openRecordSet(QStringLiteral("select * from weightlog"));
        rs->addNew();
        rs->setField(QStringLiteral("datetime"), QDateTime(QDate(2026, 3, 14), QTime(9, 30, 5)));
        rs->setField(QStringLiteral("WEIGHT"), QStringLiteral("12345.6"));
        rs->update();
    }
    const QByteArray bytes = test::readFile(path(QStringLiteral("log.mdb")));
    EXPECT_FALSE(bytes.startsWith("SQLite format 3"));
    EXPECT_FALSE(bytes.contains("12345.6"));

    auto db = Database::open(path(QStringLiteral("log.mdb")), QStringLiteral(";pwd=secret"));
    auto rs = db->openRecordSet(QStringLiteral("select * from weightlog"));
    ASSERT_EQ(rs->recordCount(), 1);
    EXPECT_EQ(rs->field(QStringLiteral("Datetime")).toString(), QStringLiteral("2026-03-14 09:30:05"));
    EXPECT_EQ(rs->field(QStringLiteral("weight")).toString(), QStringLiteral("12345.6"));
    EXPECT_EQ(rs->field(QStringLiteral("slno")).toInt(), 1);

    // A key differing in case only is another key.
    for (const QString& connect : {QStringLiteral(";pwd=wrong"), QStringLiteral(";pwd=SECRET"), QString()}) {
        const QString error = describe([&] { Database::open(path(QStringLiteral("log.mdb")), connect); });
        EXPECT_TRUE(error.startsWith(path(QStringLiteral("log.mdb")) + QStringLiteral(": ")))
            << error.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("password is wrong"))) << error.toStdString();
    }
}

TEST_F(DatabaseTest, OpenNeverCreatesAndCreateNeverOverwrites) {
    const QString missing = path(QStringLiteral("nothing.mdb"));
    EXPECT_EQ(describe([&] { Database::open(missing, {}); }), missing + QStringLiteral(": file not found"));
    EXPECT_FALSE(QFile::exists(missing));

    makeLog(2);
    const QString error =
        describe([&] { Database::create(path(QStringLiteral("log.mdb")), QStringLiteral(";pwd=k1")); });
    EXPECT_TRUE(error.contains(QStringLiteral("already exists"))) << error.toStdString();
    EXPECT_EQ(Database::open(path(QStringLiteral("log.mdb")), QStringLiteral(";pwd=k1"))
                  ->openRecordSet(QStringLiteral("select * from weightlog"))
                  ->recordCount(),
              2);

    const QString text = path(QStringLiteral("notes.mdb"));
    ASSERT_TRUE(test::writeFile(text, QByteArray(4096, 'x')));
    EXPECT_TRUE(describe([&] { Database::open(text, {}); }).contains(QStringLiteral("not a database")));
}

TEST_F(DatabaseTest, MovesCountAndPosition) {
    auto db = makeLog(3);
    auto rs = db->openRecordSet(QStringLiteral("select * from weightlog order by Datetime desc"));
    EXPECT_EQ(rs->recordCount(), 3);
    EXPECT_EQ(rs->absolutePosition(), 0);
    EXPECT_FALSE(rs->isBof());
    EXPECT_EQ(rs->field(QStringLiteral("weight")).toString(), QStringLiteral("300"));
    rs->moveNext();
    rs->moveNext();
    EXPECT_EQ(rs->absolutePosition(), 2);
    EXPECT_EQ(rs->field(QStringLiteral("weight")).toString(), QStringLiteral("100"));
    rs->moveNext();
    EXPECT_TRUE(rs->isEof());
    EXPECT_EQ(rs->absolutePosition(), -1);
    EXPECT_THROW(rs->field(QStringLiteral("weight")), DbError);
    EXPECT_THROW(rs->moveNext(), DbError);
    rs->moveLast();
    rs->movePrevious();
    EXPECT_EQ(rs->field(QStringLiteral("weight")).toString(), QStringLiteral("200"));
    rs->movePrevious();
    rs->movePrevious();
    EXPECT_TRUE(rs->isBof());
    rs->moveFirst();
    EXPECT_EQ(rs->absolutePosition(), 0);

    auto empty = db->openRecordSet(QStringLiteral("select * from weightlog where weight = ?"),
                                   {QStringLiteral("none")});
    EXPECT_EQ(empty->recordCount(), 0);
    EXPECT_TRUE(empty->isEof());
    EXPECT_TRUE(empty->isBof());
    EXPECT_EQ(empty->absolutePosition(), -1);
    empty->moveLast();
    empty->moveFirst();
    EXPECT_TRUE(empty->isEof());
}

TEST_F(DatabaseTest, DeleteKeepsPositionUntilAMove) {
    auto db = makeLog(3);
    auto rs = db->openRecordSet(QStringLiteral("select * from weightlog"));
    rs->moveNext();
    rs->deleteCurrent();
    EXPECT_EQ(rs->recordCount(), 2);
    EXPECT_EQ(rs->absolutePosition(), -1);
    rs->moveNext();
    EXPECT_EQ(rs->field(QStringLiteral("weight")).toString(), QStringLiteral("300"));
    rs->deleteCurrent();
    rs->movePrevious();
    EXPECT_EQ(rs->field(QStringLiteral("weight")).toString(), QStringLiteral("100"));

    // The same row removed by another user meanwhile: the save says so instead of writing nothing.
    Database::open(path(QStringLiteral("log.mdb")), QStringLiteral(";pwd=k1"))
        ->execute(QStringLiteral("delete from weightlog"));
    rs->edit();
    rs->setField(QStringLiteral("weight"), QStringLiteral("5"));
    EXPECT_TRUE(describe([&] { rs->update(); }).contains(QStringLiteral("deleted by another user")));
}

TEST_F(DatabaseTest, AddEditAndLastModified) {
    auto db = makeLog(2);
    auto rs = db->openRecordSet(QStringLiteral("select * from weightlog"));
    rs->addNew();
    rs->setField(QStringLiteral("weight"), QStringLiteral("777"));
    rs->update();
    // A set that was only added to has not read its rows; once read it holds the new row at its end.
    EXPECT_EQ(rs->recordCount(), 3);
    EXPECT_EQ(rs->absolutePosition(), 0);
    rs->moveToLastModified();
    EXPECT_EQ(rs->absolutePosition(), 2);
    EXPECT_EQ(rs->field(QStringLiteral("slno")).toInt(), 3);
    EXPECT_TRUE(rs->field(QStringLiteral("Datetime")).isNull());

    rs->moveFirst();
    rs->edit();
    rs->setField(QStringLiteral("Weight"), 12.5);
    rs->update();
    EXPECT_EQ(rs->field(QStringLiteral("weight")).toString(), QStringLiteral("12.5"));
    rs->moveLast();
    rs->moveToLastModified();
    EXPECT_EQ(rs->absolutePosition(), 0);

    rs->edit();
    rs->setField(QStringLiteral("weight"), QStringLiteral("1"));
    rs->cancelUpdate();
    EXPECT_EQ(rs->field(QStringLiteral("weight")).toString(), QStringLiteral("12.5"));
    EXPECT_THROW(rs->update(), DbError);
    EXPECT_THROW(rs->setField(QStringLiteral("weight"), 1), DbError);

    // A row added that the query does not select still joins the set.
    auto filtered = db->openRecordSet(QStringLiteral("select * from weightlog where weight = ?"),
                                      {QStringLiteral("none")});
    filtered->addNew();
    filtered->update();
    EXPECT_EQ(filtered->recordCount(), 1);
    filtered->moveToLastModified();
    EXPECT_EQ(filtered->field(QStringLiteral("slno")).toInt(), 4);
}

TEST_F(DatabaseTest, ColumnsByNameNullAndMissingNames) {
    auto db = Database::create(path(QStringLiteral("c.mdb")), {});
    db->execute(QStringLiteral(
        "create table config (FORWEIGHBRIDGE BOOLEAN, port INTEGER, pw TEXT, MinimumAutosaveWeight DOUBLE)"));
    db->execute(QStringLiteral("insert into config values (-1, NULL, '', 500)"));
    auto rs = db->openRecordSet(QStringLiteral("select * from config"));
    EXPECT_EQ(rs->fieldNames(), (QStringList{QStringLiteral("FORWEIGHBRIDGE"), QStringLiteral("port"),
                                             QStringLiteral("pw"), QStringLiteral("MinimumAutosaveWeight")}));
    EXPECT_TRUE(rs->hasField(QStringLiteral("forweighbridge")));
    EXPECT_FALSE(rs->hasField(QStringLiteral("baud")));
    EXPECT_TRUE(rs->field(QStringLiteral("Forweighbridge")).toBool());
    EXPECT_EQ(rs->field(QStringLiteral("FORWEIGHBRIDGE")).toInt(), -1);
    EXPECT_TRUE(rs->field(QStringLiteral("PORT")).isNull());
    EXPECT_FALSE(rs->field(QStringLiteral("pw")).isNull());  // empty text is not Null
    EXPECT_EQ(rs->field(QStringLiteral("minimumautosaveweight")).toDouble(), 500.0);

    const QString file = path(QStringLiteral("c.mdb"));
    EXPECT_EQ(describe([&] { rs->field(QStringLiteral("baud")); }),
              file + QStringLiteral(": table config has no column named 'baud'"));
    EXPECT_EQ(describe([&] { rs->setField(QStringLiteral("baud"), 1); }),
              file + QStringLiteral(": table config has no column named 'baud'"));
    EXPECT_EQ(describe([&] { db->openRecordSet(QStringLiteral("select * from weightlog")); }),
              file + QStringLiteral(": no such table: weightlog"));
    EXPECT_THROW(db->openRecordSet(QStringLiteral("select port from config")), DbError);
    EXPECT_THROW(db->openRecordSet(QStringLiteral("select * from config where nosuch = 1")), DbError);
}

TEST_F(DatabaseTest, ValuesMustFitTheirColumn) {
    auto db = Database::create(path(QStringLiteral("c.mdb")), {});
    db->execute(
        QStringLiteral("create table config (flag BOOLEAN, port INTEGER, low REAL, high DOUBLE, name TEXT)"));
    db->execute(QStringLiteral("insert into config (port) values (1)"));
    auto rs = db->openRecordSet(QStringLiteral("select * from config"));

    struct Case {
        const char* column;
        QVariant value;
        QVariant stored;
    };
    // clang-format off
    const Case fits[] = {
        {"flag", true, qlonglong(-1)}, {"flag", QStringLiteral("Yes"), qlonglong(-1)},
        {"flag", QStringLiteral("off"), qlonglong(0)}, {"flag", 5, qlonglong(-1)}, {"flag", QStringLiteral("0"), qlonglong(0)},
        {"port", QStringLiteral(" 9600 "), qlonglong(9600)}, {"port", 2.5, qlonglong(2)}, {"port", 3.5, qlonglong(4)},
        {"port", QStringLiteral(""), QVariant()}, {"port", false, qlonglong(0)},
        {"low", QStringLiteral("400.5"), 400.5}, {"high", 1e300, 1e300},
        {"name", 12.5, QStringLiteral("12.5")}, {"name", true, QStringLiteral("True")}, {"name", QVariant(), QVariant()},
    };
    // clang-format on
    for (const auto& c : fits) {
        rs->edit();
        rs->setField(QString::fromLatin1(c.column), c.value);
        rs->update();
        EXPECT_EQ(rs->field(QString::fromLatin1(c.column)), c.stored)
            << c.column << " " << c.value.toString().toStdString();
    }

    // clang-format off
    const Case misfits[] = {
        {"port", QStringLiteral("abc"), {}}, {"port", QStringLiteral("12kg"), {}}, {"port", 1e30, {}},
        {"flag", QStringLiteral("maybe"), {}}, {"low", 1e300, {}}, {"high", QStringLiteral("inf"), {}},
        {"name", QByteArray("\x01\x02"), {}},
    };
    // clang-format on
    for (const auto& c : misfits) {
        rs->edit();
        rs->setField(QString::fromLatin1(c.column), c.value);
        const QString error = describe([&] { rs->update(); });
        EXPECT_TRUE(error.startsWith(path(QStringLiteral("c.mdb")) + QStringLiteral(": the value")))
            << error.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("does not fit column ") + QString::fromLatin1(c.column)))
            << error.toStdString();
        rs->cancelUpdate();
    }
    EXPECT_EQ(rs->field(QStringLiteral("port")).toInt(), 0);  // nothing of the failed updates was written
}

TEST_F(DatabaseTest, WriteMeetingAnotherProgramsLockFails) {
    auto db = makeLog(1);
    auto other = Database::open(path(QStringLiteral("log.mdb")), QStringLiteral(";pwd=k1"));
    other->execute(QStringLiteral("begin exclusive"));
    auto rs = db->openRecordSet(QStringLiteral("select * from weightlog"));
    rs->addNew();
    rs->setField(QStringLiteral("weight"), QStringLiteral("1"));
    const QString error = describe([&] { rs->update(); });
    EXPECT_TRUE(error.contains(QStringLiteral("locked"))) << error.toStdString();
    EXPECT_TRUE(error.startsWith(path(QStringLiteral("log.mdb")))) << error.toStdString();
    other->execute(QStringLiteral("rollback"));
    rs->update();  // the edit buffer survives the failure: the same save succeeds once the lock is gone
    EXPECT_EQ(rs->recordCount(), 2);
}

TEST_F(DatabaseTest, ACommitSyncsTheFolderOfTheDeletedJournal) {
    DeletionLog::install();
    auto db = makeLog(0);
    DeletionLog::deletions.clear();
    db->execute(
        QStringLiteral("insert into weightlog (Datetime, weight) values ('2026-03-14 09:30:00', '1')"));
    ASSERT_EQ(DeletionLog::deletions.size(), 1u);
    EXPECT_TRUE(
        QString::fromStdString(DeletionLog::deletions[0].first).endsWith(QStringLiteral("log.mdb-journal")));
    EXPECT_EQ(DeletionLog::deletions[0].second, 1) << "the folder is synced after the journal's deletion";
}

}  // namespace
