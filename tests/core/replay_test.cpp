// The replay tool as other tools use it: the real binary, its output lines and exit codes.

#include "tests/core/core_fixture.h"
#include "tests/support/program_run.h"

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

// Under the inherited locale, or with LC_ALL and LANG set to the one named.
ProgramRun replay(const QStringList& args, const QByteArray& input, const QString& locale = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!locale.isEmpty()) {
        env.insert(QStringLiteral("LC_ALL"), locale);
        env.insert(QStringLiteral("LANG"), locale);
    }
    return runProgram(appProgram("veltrane-replay"), args, input, env);
}

QStringList lines(const QString& text) {
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

struct Stream {
    const char* name;
    QStringList args;
    QByteArray input;
    QStringList out;
};

}  // namespace

// Recorded streams and the events they give, the same bytes under C and under a decimal-comma locale
// (scripts/setup.sh makes de_DE.UTF-8; the C library's numeric locale comes from the environment).
TEST(Replay, EventLinesWhateverTheLocale) {
    const QStringList wordsOn{"--set", "activateVoiceAlert=1", "--set", "voicealertnormal=0"};
    const QString load = QStringLiteral("record\t001234\t1234");
    const QString empty = QStringLiteral("record\t000000\t0");
    const Stream streams[] = {
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
        {"a fraction and its digits spoken; a later --set beats an earlier --null",
         {"--null", "minstablereadings", "--set", "minstablereadings=1", "--set", "activateVoiceAlert=1",
          "--set", "voicealertnormal=1"},
         QByteArray("ST,GS,+1234.50kg\r\n").repeated(2),
         {"record\t\t0", "record\t1234.50\t1234.5", "record\t1234.50\t1234.5", "served\t1234.5", "say\t1.wav",
          "say\t2.wav", "say\t3.wav", "say\t4.wav", "say\tpoint.wav", "say\t5.wav"}},
        {"decimal point put in by the program",
         {"--set", "iNSERTDECIMALS=1", "--set", "iNSERTBEFORE=2", "--set", "minstablereadings=1"},
         QByteArray("+123456\r").repeated(2),
         {"record\t\t0", "record\t123456\t1234.56", "record\t123456\t1234.56", "served\t1234.56"}},
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
    for (const Stream& c : streams) {
        const ProgramRun r = replay(c.args, c.input, QStringLiteral("C"));
        EXPECT_EQ(r.exitCode, 0) << c.name;
        EXPECT_EQ(lines(r.out), c.out) << c.name;
        const ProgramRun comma = replay(c.args, c.input, QStringLiteral("de_DE.UTF-8"));
        EXPECT_EQ((comma.out + comma.err).toStdString(), (r.out + r.err).toStdString()) << c.name;
    }
}

TEST(Replay, SettingsFileOverridesAndMessages) {
    AppFolder app;
    app.setConfig(QStringLiteral("minstablereadings"), 1);
    const QString csv = app.outFolder() + QStringLiteral("veltrane.csv");

    const ProgramRun r = replay({"--settings", app.settingsPath(), "--null", "OUTPUTFILELOCATION", "--set",
                                 "OutputClipboard=-1", "-"},
                                QByteArray("700\r").repeated(2));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(lines(r.out), (QStringList{"record\t700\t700", "record\t700\t700", "served\t700"}));
    EXPECT_EQ(lines(r.err), QStringList{"message\tOutput file location folder needs to be configured!!!"});
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
        {folder.file("missing.bin")}, {folder.path()}, {"a", "b"}, {"--set"}, {"--null", " "}, {"-x"},
        // clang-format on
    };
    for (const QStringList& args : cases) {
        const ProgramRun r = replay(args, {});
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_FALSE(r.err.isEmpty()) << args.join(' ').toStdString();
    }
}
