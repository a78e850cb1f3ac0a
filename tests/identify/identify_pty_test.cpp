// veltrane-identify run as an installer runs it, against indicator-sim on a pty at many line settings.
#include "platform/qt_serial_port.h"
#include "tests/support/fakes.h"
#include "tests/support/program_run.h"
#include "tests/support/sim_process.h"
#include "tests/wizard/wizard_test_support.h"

#include <gtest/gtest.h>
#include <QJsonDocument>
#include <QJsonObject>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

QJsonObject identify(const QStringList& args, int* exitCode) {
    const ProgramRun run = runProgram(appProgram("veltrane-identify"), args + QStringList{"--json"});
    *exitCode = run.exitCode;
    return QJsonDocument::fromJson(run.out.toUtf8()).object();
}

}  // namespace

TEST(Identify, FindsTheExactSettingAndTheWeightsPlace) {
    struct Case {
        QStringList sim;
        const char* settings;
        const char* delimiter;
        int start;
        bool reverse;
        const char* request;
    };
    const Case cases[] = {
        {{"--settings", "9600,e,7,1"}, "9600,e,7,1", "CR", 11, false, nullptr},
        {{"--settings", "4800,o,7,2"}, "4800,o,7,1", "CR", 11, false, nullptr},
        {{"--settings", "115200,n,8,2"}, "115200,n,8,1", "CR", 11, false, nullptr},
        {{"--settings", "2400,n,8,1", "--format", "stx-etx"}, "2400,n,8,1", "ETX", 7, false, nullptr},
        {{"--settings", "19200,n,8,1", "--format", "reversed"}, "19200,n,8,1", "=", 1, true, nullptr},
        {{"--settings", "9600,n,8,1", "--mode", "poll", "--request", "SI\\r\\n"},
         "9600,n,8,1",
         "CR",
         11,
         false,
         "SI\\r\\n"},
    };
    for (const Case& c : cases) {
        SimProcess sim;
        ASSERT_TRUE(sim.start(c.sim + QStringList{"--no-stdin", "--weight", "1234", "--rate", "10"}));
        int exitCode = -1;
        const QJsonObject r = identify({"--device", sim.device, "--weight", "1234", "--probe"}, &exitCode);
        const std::string what = c.sim.join(u' ').toStdString();
        EXPECT_EQ(exitCode, 0) << what;
        EXPECT_EQ(r[u"settings"].toString(), QLatin1String(c.settings)) << what;
        EXPECT_EQ(r[u"delimiter"].toString(), QLatin1String(c.delimiter)) << what;
        EXPECT_EQ(r[u"weightstart"].toInt(), c.start) << what;
        EXPECT_EQ(r[u"weightlength"].toInt(), 4) << what;
        EXPECT_EQ(r[u"reverse"].toBool(), c.reverse) << what;
        if (c.request)
            EXPECT_EQ(r[u"request"].toString(), QLatin1String(c.request)) << what;
        else
            EXPECT_TRUE(r[u"request"].isNull()) << what;
    }
}

TEST(Identify, SilenceWrongWeightAndMissingDevice) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--no-stdin", "--weight", "5678", "--settings", "19200,n,8,1"}));
    int exitCode = -1;
    // Records that never hold the sample weight are no answer.
    QJsonObject r = identify({"--device", sim.device, "--weight", "1234", "--timeout", "5"}, &exitCode);
    EXPECT_EQ(exitCode, 1);
    EXPECT_FALSE(r[u"found"].toBool(true));
    EXPECT_TRUE(r[u"seen"].toString().contains(QLatin1String("5678")));

    SimProcess silent;
    ASSERT_TRUE(silent.start({"--no-stdin", "--mode", "print"}));
    r = identify({"--device", silent.device, "--timeout", "5"}, &exitCode);
    EXPECT_EQ(exitCode, 1);
    EXPECT_EQ(r[u"seen"].toString(), QString());

    const ProgramRun missing = runProgram(appProgram("veltrane-identify"), {"--device", "/dev/no-such-tty"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.contains(QLatin1String("/dev/no-such-tty: no such device")))
        << missing.err.toStdString();
}

// The settings are written only while no program holds the port, as Veltrane does when it weighs.
TEST(Identify, StoresOnlyIntoAFreePortAndNamesTheGroupToJoin) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--no-stdin", "--weight", "1234", "--rate", "10", "--settings", "9600,e,7,1"}));
    TempFolder folder;
    makeSettingsDatabase(folder.path());
    const QStringList store{"--device", sim.device, "--weight", "1234", "--store", folder.path()};
    {
        QtSerialPort veltrane([&](int) { return sim.device; });
        veltrane.setPortNumber(1);
        veltrane.setSettingsText(QStringLiteral("9600,e,7,1"));
        ASSERT_TRUE(veltrane.open());
        const ProgramRun held = runProgram(appProgram("veltrane-identify"), store);
        EXPECT_EQ(held.exitCode, 2);
        EXPECT_TRUE(held.err.contains(QLatin1String("is held by another program"))) << held.err.toStdString();
        expectStored(folder.path(), {{"weightstart", 7}, {"parity", "n"}});
    }
    const ProgramRun stored = runProgram(appProgram("veltrane-identify"), store);
    EXPECT_EQ(stored.exitCode, 0) << stored.err.toStdString();
    expectStored(folder.path(), {{"baud", 9600}, {"parity", "e"}, {"databits", 7}, {"simpinterface", -1}});

    // A user outside the device's group is told which group to join.
    const QByteArray device = QFile::encodeName(sim.device);
    ASSERT_EQ(::chown(device.constData(), 0, getgrnam("dialout")->gr_gid), 0);
    ASSERT_EQ(::chmod(device.constData(), 0660), 0);
    const ProgramRun refused =
        runProgram(QStringLiteral("setpriv"), {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                               appProgram("veltrane-identify"), "--device", sim.device});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains(
        QLatin1String("is for members of the group dialout, and the user nobody is not one")))
        << refused.err.toStdString();
}
