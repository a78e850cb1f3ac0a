// The three database files as the creation tool makes them, read back through the program's own
// layer and through the command-line tools an administrator or another program would use.

#include "config/comports.h"
#include "config/schema.h"
#include "config/settings.h"
#include "platform/database.h"
#include "tests/support/fakes.h"
#include "tests/support/program_run.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace veltrane;
using veltrane::test::ProgramRun;
using veltrane::test::runProgram;

namespace {

QString mkdbPath() {
    return veltrane::test::appProgram("veltrane-mkdb");
}

class DatabaseFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = m_dir.path() + QStringLiteral("/app/");
        const ProgramRun made =
            runProgram(mkdbPath(), {QStringLiteral("--set"), QStringLiteral("Baud=4800"),
                                    QStringLiteral("--set"), QStringLiteral("voicealertnormal=on"),
                                    QStringLiteral("--comport"), QStringLiteral("2=/dev/ttyUSB0"), m_folder});
        ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    }
    QString file(const char* name) const { return m_folder + QString::fromLatin1(name); }

    QTemporaryDir m_dir;
    QString m_folder;
};

TEST_F(DatabaseFilesTest, SettingsFileHoldsTheDefaultRowInColumnOrder) {
    auto db = Database::open(file(kSettingsDatabaseName), QString::fromLatin1(kSettingsDatabaseConnect));
    auto row = db->openRecordSet(QStringLiteral("select * from config"));
    ASSERT_EQ(row->recordCount(), 1);

    EXPECT_EQ(row->field(QStringLiteral("outputfilelocation")).toString(), m_folder);
    EXPECT_EQ(row->field(QStringLiteral("baud")).toInt(), 4800);  // --set
    EXPECT_EQ(row->field(QStringLiteral("VoiceAlertNormal")).toInt(), -1);
    EXPECT_EQ(row->field(QStringLiteral("Forweighbridge")).toInt(), -1);
    EXPECT_EQ(row->field(QStringLiteral("pw")).toString(), QString::fromLatin1(kDefaultPassword));
    EXPECT_EQ(row->field(QStringLiteral("delimiter")).toString(), QStringLiteral("CR"));
    // Columns the loader reads without a Null rule must not be Null in a new installation.
    for (const char* name : {"throwstring", "addcr", "port", "databits", "stopbits", "parity", "iNSERTBEFORE",
                             "minstablereadings", "lowlimit", "Highlimit", "StabilityCheckAccuracy",
                             "MinimumAutosaveWeight", "outputApplication"})
        EXPECT_FALSE(row->field(QString::fromLatin1(name)).isNull()) << name;

    EXPECT_EQ(db->openRecordSet(QStringLiteral("select * from weightlog"))->recordCount(), 0);
    EXPECT_EQ(settingsDeviceResolver(file(kSettingsDatabaseName))(2), QStringLiteral("/dev/ttyUSB0"));
}

TEST_F(DatabaseFilesTest, KeyedFilesNeedTheirKeyInOtherTools) {
    const ProgramRun plain = runProgram(
        QStringLiteral("sqlite3"), {file(kSettingsDatabaseName), QStringLiteral("select pw from config;")});
    EXPECT_NE(plain.exitCode, 0);
    EXPECT_TRUE(plain.err.contains(QStringLiteral("not a database"))) << plain.err.toStdString();

    // The settings file with its key is read by sqlcipher in the examples and the whole-program tests.
    const ProgramRun version = runProgram(QStringLiteral("sqlcipher"), {file(kVersionDatabaseName)},
                                          "PRAGMA key='vtlqe';\nselect dummy from config;\n");
    EXPECT_EQ(version.out.trimmed(), QStringLiteral("12.x")) << version.err.toStdString();

    // The export file is for any program: plain SQLite reads and writes it.
    const ProgramRun exportFile =
        runProgram(QStringLiteral("sqlite3"),
                   {file(kExportDatabaseName),
                    QStringLiteral("insert into weightlog (Datetime, weight) values "
                                   "('2026-03-14 09:30:00', '1234'); select slno, weight from weightlog;")});
    EXPECT_EQ(exportFile.exitCode, 0) << exportFile.err.toStdString();
    EXPECT_EQ(exportFile.out.trimmed(), QStringLiteral("1|1234"));
}

TEST_F(DatabaseFilesTest, ToolNeverReplacesAFile) {
    QFile::remove(file(kVersionDatabaseName));
    const ProgramRun again =
        runProgram(mkdbPath(), {QStringLiteral("--set"), QStringLiteral("baud=300"), m_folder});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(again.out.contains(file(kSettingsDatabaseName) + QStringLiteral(": exists, left unchanged")));
    EXPECT_TRUE(again.out.contains(file(kExportDatabaseName) + QStringLiteral(": exists, left unchanged")));
    EXPECT_TRUE(again.out.contains(file(kVersionDatabaseName) + QStringLiteral(": created")));
    auto row = Database::open(file(kSettingsDatabaseName), QString::fromLatin1(kSettingsDatabaseConnect))
                   ->openRecordSet(QStringLiteral("select * from config"));
    EXPECT_EQ(row->field(QStringLiteral("baud")).toInt(), 4800);
    EXPECT_TRUE(
        QDir(m_folder).entryList(QDir::Hidden | QDir::Files).filter(QStringLiteral(".part")).isEmpty());
}

TEST(DatabaseTool, BadArgumentsAndFoldersExitWithTwo) {
    QTemporaryDir dir;
    ASSERT_TRUE(veltrane::test::writeFile(dir.filePath(QStringLiteral("plainfile"))));
    const QString fresh = dir.filePath(QStringLiteral("fresh"));
    // clang-format off
    const std::vector<QStringList> cases{
        {}, {fresh, fresh + QStringLiteral("2")}, {QStringLiteral("--bogus"), fresh},
        {QStringLiteral("--set"), QStringLiteral("nosuchcolumn=1"), fresh},
        {QStringLiteral("--set"), QStringLiteral("port=first"), fresh},  // does not fit the column
        {QStringLiteral("--comport"), QStringLiteral("0=/dev/ttyUSB0"), fresh}, {QStringLiteral("--set")},
        {dir.filePath(QStringLiteral("plainfile/sub"))},
    };
    // clang-format on
    for (const auto& args : cases) {
        const ProgramRun result = runProgram(mkdbPath(), args);
        EXPECT_EQ(result.exitCode, 2) << args.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(result.err.isEmpty()) << args.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(QFile::exists(fresh + QStringLiteral("/scale.mdb")))
            << args.join(QLatin1Char(' ')).toStdString();
    }
    EXPECT_EQ(runProgram(mkdbPath(), {QStringLiteral("--help")}).exitCode, 0);
}

TEST(Comports, DeviceOfAPort) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("scale.mdb"));
    const DeviceResolver resolve = settingsDeviceResolver(path);
    EXPECT_EQ(resolve(1), QStringLiteral("/dev/ttyS0"));  // no database yet: the default, no failure
    createSettingsDatabase(path, dir.path() + QLatin1Char('/'));
    EXPECT_EQ(resolve(3), QStringLiteral("/dev/ttyS2"));
    writeComportDevice(path, 3, QStringLiteral(" /dev/pts/7 "));
    EXPECT_EQ(resolve(3), QStringLiteral("/dev/pts/7"));
    writeComportDevice(path, 3, QStringLiteral("/dev/ttyUSB1"));
    EXPECT_EQ(readComportDevice(path, 3), QStringLiteral("/dev/ttyUSB1"));
    writeComportDevice(path, 3, QString());
    EXPECT_EQ(readComportDevice(path, 3), std::nullopt);
    EXPECT_EQ(resolve(3), QStringLiteral("/dev/ttyS2"));

    // A settings file from before the table existed: reads give the default, the first write adds it.
    auto db = Database::open(path, QString::fromLatin1(kSettingsDatabaseConnect));
    db->execute(QStringLiteral("drop table comports"));
    EXPECT_EQ(resolve(4), QStringLiteral("/dev/ttyS3"));
    EXPECT_THROW(readComportDevice(path, 4), DbError);
    writeComportDevice(path, 4, QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(resolve(4), QStringLiteral("/dev/ttyACM0"));
}

// Files that a build on another generation of SQLCipher made (scripts/test-sqlcipher4.sh: the system
// library's build makes them, a build on the other generation runs this, then the system's sqlcipher tool
// reads them back): a keyed settings file with three weight-log rows, the version file, the export file.
TEST(FilesFromAnotherBuild, OpenAndTakeANewRow) {
    const QString folder = qEnvironmentVariable("VELTRANE_FILES_FROM_OTHER_BUILD") + QLatin1Char('/');
    if (folder == QLatin1String("/")) {
        GTEST_SKIP() << "no files of another build given";
    }
    auto scale = Database::open(folder + QLatin1String(kSettingsDatabaseName),
                                QString::fromLatin1(kSettingsDatabaseConnect));
    auto log = scale->openRecordSet(QStringLiteral("select * from weightlog order by slno"));
    ASSERT_EQ(log->recordCount(), 3);
    for (int i = 1; i <= 3; ++i, log->moveNext())
        EXPECT_EQ(log->field(QStringLiteral("weight")).toString(), QString::number(i * 1111));
    log->addNew();
    log->setField(QStringLiteral("weight"), QStringLiteral("4444"));
    log->update();
    auto version = Database::open(folder + QLatin1String(kVersionDatabaseName),
                                  QString::fromLatin1(kVersionDatabaseConnect));
    EXPECT_EQ(version->openRecordSet(QStringLiteral("select * from config"))
                  ->field(QStringLiteral("dummy"))
                  .toString(),
              QStringLiteral("12.x"));
    auto exportFile = Database::open(folder + QLatin1String(kExportDatabaseName), QString());
    EXPECT_EQ(exportFile->openRecordSet(QStringLiteral("select * from weightlog"))->recordCount(), 0);
}

}  // namespace
