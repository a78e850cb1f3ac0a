// What an unattended installation must not give away: a shell through a path taken from the
// configuration. (The database files' keys are checked in the database tests, the live feed's socket in
// the feed's own tests and, on the running program, by kill_test.sh; the log viewer's dates in its own
// tests.)

#include "core/weighing_core.h"
#include "tests/core/core_fixture.h"

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

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
        QFile(out + QStringLiteral("keep.txt")).open(QIODevice::WriteOnly);
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
