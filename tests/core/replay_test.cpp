// The replay tool as other tools use it: the real binary, its output lines and exit codes.

#include "tests/core/core_fixture.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

struct RunResult {
    int exitCode = -1;
    QStringList out;
    QStringList err;
};

RunResult replay(const QStringList& args, const QByteArray& input) {
    QProcess p;
    p.start(qEnvironmentVariable("VELTRANE_APP_DIR") + QStringLiteral("/veltrane-replay"), args);
    if (!p.waitForStarted(30000)) return {};
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    RunResult r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    r.err = QString::fromUtf8(p.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return r;
}

}  // namespace

TEST(Replay, EventLines) {
    const QStringList wordsOn{"--set", "activateVoiceAlert=1", "--set", "voicealertnormal=0"};
    struct Case {
        const char* name;
        QStringList args;
        QByteArray input;
        QStringList out;
    };
    const QString load = QStringLiteral("record\t001234\t1234");
    const QString empty = QStringLiteral("record\t000000\t0");
    const Case cases[] = {
        {"stable load served once, then re-armed",
         {},
         QByteArray("ST,GS,+001234kg\r\n").repeated(7) + QByteArray("+000000\r\n").repeated(6),
         QStringList{"record\t\t0", load, load, load, load, load, load, "served\t1234", load} +
             QStringList{empty, empty, empty, empty, empty, empty, "rearmed"}},
        {"words and the truck-out sound",
         wordsOn + QStringList{"--set", "minstablereadings=1"},
         QByteArray("1234\r").repeated(2) + QByteArray("0\r").repeated(2),
         {"record\t1234\t1234", "record\t1234\t1234", "served\t1234", "say\t1.wav", "say\tthousand.wav",
          "say\t2.wav", "say\thundred.wav", "say\t34.wav", "record\t0\t0", "record\t0\t0", "rearmed",
          "say\ttruckout.wav"}},
        // 19.999 s is 19 whole seconds; 19.999 to 39.998 is 20
        {"print button, 20 whole seconds",
         {"--set", "AutosaveonStableWeight=false", "--set", "saveonbutton=true", "--interval", "19999"},
         QByteArray("900\r").repeated(3),
         {"record\t900\t900", "refused", "record\t900\t900", "served\t900", "record\t900\t900",
          "served\t900"}},
        {"position decoding and escapes",
         {"--set", "simpinterface=0", "--set", "delimiter=CR", "--set", "weightstart=6", "--set",
          "weightend=11"},
         QByteArray("\tA\\\x01\xe9+00125 kg\r"),
         {"record\t\\tA\\\\\\x01\\xE9+00125 kg\t125"}},
    };
    for (const Case& c : cases) {
        const RunResult r = replay(c.args, c.input);
        EXPECT_EQ(r.exitCode, 0) << c.name;
        EXPECT_EQ(r.out, c.out) << c.name;
    }
}

TEST(Replay, SettingsFileOverridesAndMessages) {
    AppFolder app;
    app.setConfig(QStringLiteral("minstablereadings"), 1);
    const QString csv = app.outFolder() + QStringLiteral("veltrane.csv");
    QFile keep(app.outFolder() + QStringLiteral("keep.txt"));
    keep.open(QIODevice::WriteOnly);
    keep.close();

    const RunResult r = replay({"--settings", app.settingsPath(), "--null", "OUTPUTFILELOCATION", "--set",
                                "OutputClipboard=-1", "-"},
                               QByteArray("700\r").repeated(2));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, (QStringList{"record\t700\t700", "record\t700\t700", "served\t700"}));
    EXPECT_EQ(r.err, QStringList{"message\tOutput file location folder needs to be configured!!!"});
    // Nothing was written: neither the output file nor the weight log of the settings file given.
    EXPECT_FALSE(QFile::exists(csv));
    EXPECT_EQ(app.weightLogRows(), 0);
}

TEST(Replay, BadArgumentsExitWithTwo) {
    TempFolder folder;
    const QList<QStringList> cases{
        // clang-format off
        {"--bogus"}, {"--interval", "soon"}, {"--interval"}, {"--set", "nosuchcolumn=1"},
        {"--set", "simpinterface=maybe"}, {"--set", "noequals"}, {"--settings", folder.file("missing.mdb")},
        {folder.file("missing.bin")}, {folder.path()}, {"a", "b"},
        // clang-format on
    };
    for (const QStringList& args : cases) {
        const RunResult r = replay(args, {});
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_FALSE(r.err.isEmpty()) << args.join(' ').toStdString();
    }
}
