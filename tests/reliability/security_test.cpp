// What an unattended installation must not give away: the database files without their keys, and a
// shell through a path taken from the configuration. (The live feed's socket is checked in the feed's
// own tests and, on the running program, by kill_test.sh; the log viewer's dates in its own tests.)

#include "config/schema.h"
#include "core/weighing_core.h"
#include "tests/core/core_fixture.h"

#include <QDirIterator>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

bool opens(const QString& path, const QString& connect) {
    try {
        auto db = Database::open(path, connect);
        db->openRecordSet(QStringLiteral("select * from config"))->recordCount();
        return true;
    } catch (const DbError&) {
        return false;
    }
}

}  // namespace

TEST(Security, DatabaseFilesCannotBeReadWithoutTheirKeys) {
    TempFolder folder;
    const QString scale = folder.file(QStringLiteral("scale.mdb"));
    const QString version = folder.file(QStringLiteral("config.mdb"));
    createSettingsDatabase(scale, folder.path());
    createVersionDatabase(version);
    Database::open(scale, QString::fromLatin1(kSettingsDatabaseConnect))
        ->execute(QStringLiteral("insert into weightlog (Datetime, weight) values (?, ?)"),
                  {QStringLiteral("2026-03-14 09:30:00"), QStringLiteral("424242")});

    const struct {
        QString path;
        QString key;
        QString otherKey;
    } files[] = {
        {scale, QString::fromLatin1(kSettingsDatabaseConnect), QString::fromLatin1(kVersionDatabaseConnect)},
        {version, QString::fromLatin1(kVersionDatabaseConnect),
         QString::fromLatin1(kSettingsDatabaseConnect)}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.path.toStdString());
        EXPECT_TRUE(opens(f.path, f.key));
        for (const QString& wrong : {QString(), QStringLiteral(";pwd="), f.otherKey,
                                     QStringLiteral(";pwd=QD584"), f.key + QLatin1Char('x')})
            EXPECT_FALSE(opens(f.path, wrong)) << wrong.toStdString();
        // Nothing readable in the bytes either: no SQLite header, no table names, no stored values.
        const QByteArray bytes = readFile(f.path);
        ASSERT_GT(bytes.size(), 1024);
        for (const char* plain : {"SQLite format 3", "CREATE TABLE", "create table", "config", "weightlog",
                                  "424242", kDefaultPassword})
            EXPECT_FALSE(bytes.contains(plain)) << plain;
    }
}

TEST(Security, AnOutputFolderFromTheConfigurationIsAPathNeverAShellCommand) {
    // Served into a folder whose name is made to run commands if it ever reached a shell.
    const QString names[] = {
        QStringLiteral("x; touch pwned"),
        QStringLiteral("x && touch pwned"),
        QStringLiteral("`touch pwned`"),
        QStringLiteral("$(touch pwned)"),
        QStringLiteral("it's \"quoted\" | touch pwned"),
    };
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        AppFolder app;
        const QString out = app.folder.file(name) + QLatin1Char('/');
        ASSERT_TRUE(QDir().mkpath(out));
        QFile keep(out + QStringLiteral("keep.txt"));
        keep.open(QIODevice::WriteOnly);
        app.setConfig(QStringLiteral("outputFilelocation"), out);

        FakeServices fakes(app.path());
        Settings settings;
        FakeView view;
        WeighingCore core(fakes.services, settings, view);
        core.OpenSerialPort();
        ASSERT_TRUE(core.isPortOpen()) << fakes.prompts.log.join('|').toStdString();
        for (int i = 0; i < 6; ++i) fakes.port.inject("ST,GS,+001234kg\r\n");

        EXPECT_TRUE(readFile(out + QStringLiteral("veltrane.csv")).startsWith("Weight,Datetime\r\n1234,"));
        EXPECT_EQ(app.weightLogRows(), 1);
        // No command ran: no marker in the application folder, the output folder or the working folder.
        for (const QString& where : {app.path(), out, QDir::currentPath() + QLatin1Char('/')})
            EXPECT_FALSE(QFile::exists(where + QStringLiteral("pwned"))) << where.toStdString();
        EXPECT_EQ(fakes.prompts.log, QStringList{});
    }
}

TEST(Security, TheProgramsCodeStartsNoShellOrOtherProgram) {
    // Opening files goes through ShellOpen (a file URL to the desktop), never a command line: a call
    // that runs programs in the program's own folders is a path from the configuration into a shell.
    // The one exception starts a program file by its path, without a shell or arguments.
    const QString source = qEnvironmentVariable("VELTRANE_SOURCE_DIR");
    ASSERT_FALSE(source.isEmpty());
    const QRegularExpression runs(QStringLiteral(
        R"(((?<!QLocale::)\bsystem\s*\(|\bpopen\s*\(|\bexec[lv]p?e?\s*\(|\bQProcess\b|\bstartDetached\b|\bposix_spawn))"));
    int files = 0;
    for (const char* folder : {"platform", "config", "core", "wizard", "shell", "ddeclient"}) {
        QDirIterator it(source + QLatin1Char('/') + QLatin1String(folder), {"*.cpp", "*.h"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.endsWith(QLatin1String("platform/gui/desktop_shell_open.cpp"))) continue;
            ++files;
            const QString text = QString::fromUtf8(readFile(path));
            const QRegularExpressionMatch m = runs.match(text);
            EXPECT_FALSE(m.hasMatch()) << path.toStdString() << ": " << m.captured().toStdString();
        }
    }
    EXPECT_GT(files, 20);
}
