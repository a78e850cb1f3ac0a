// The simulator program on its pty, read through the project's own serial port, as Veltrane reads it.
#include "platform/qt_serial_port.h"
#include "tests/support/program_run.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTemporaryDir>

using namespace veltrane;
using namespace veltrane::test;

namespace {

// The simulator with its link and control socket in a folder of the test's own, behind port 3.
struct Sim : SimProcess {
    explicit Sim(const QStringList& args) {
        started = start(args + QStringList{"--link", link, "--control", control});
        QObject::connect(&port, &SerialPort::byteReceived, [this](char c) { received.append(c); });
        port.setPortNumber(3);
    }
    bool open(const QString& settings) {
        port.setSettingsText(settings);
        received.clear();
        return port.open();
    }
    QString socketCommand(const QString& line) {
        QLocalSocket s;
        s.connectToServer(control);
        if (!s.waitForConnected(5000)) return QStringLiteral("no connection");
        s.write(line.toUtf8() + '\n');
        if (!pumpUntil([&] { return s.canReadLine(); })) return {};
        return QString::fromUtf8(s.readLine()).trimmed();
    }

    QTemporaryDir dir;
    QString link = dir.filePath(QStringLiteral("scale")), control = dir.filePath(QStringLiteral("control"));
    bool started = false;
    QtSerialPort port{[this](int n) { return n == 3 ? link : QString(); }};
    QByteArray received;
};

// A pause before checking that nothing (more) came.
void settle(int ms) {
    pumpUntil([] { return false; }, ms);
}

}  // namespace

TEST(IndicatorSim, WrongBaudYieldsNoWeight) {
    Sim sim({"--rate", "20", "--weight", "4321"});
    ASSERT_TRUE(sim.started);
    for (const char* wrong : {"4800,n,8,1", "2400,n,8,1", "38400,n,8,1"}) {
        ASSERT_TRUE(sim.open(QLatin1String(wrong))) << wrong;
        ASSERT_TRUE(pumpUntil([&] { return sim.received.size() >= 60; })) << wrong;
        EXPECT_FALSE(sim.received.contains("4321")) << wrong;
        EXPECT_FALSE(sim.received.contains("ST,GS")) << wrong;
        sim.port.close();
    }
    // Reopened at the right settings, the same device gives the weight at once.
    ASSERT_TRUE(sim.open(QStringLiteral("9600,n,8,1")));
    ASSERT_TRUE(pumpUntil([&] { return sim.received.contains("ST,GS,+004321kg\r\n"); }));
}

// The frame a reader gets over the pty is the cable's: parity in bit 7 at 8N1, stripped by a 7-bit port,
// and a second stop bit unseen.
TEST(IndicatorSim, FramesReachTheReaderAsOnACable) {
    struct Case {
        const char* sender;
        const char* reader;
        bool bit7;
    };
    const Case cases[] = {{"9600,e,7,1", "9600,n,8,1", true},
                          {"9600,e,7,1", "9600,e,7,1", false},
                          {"4800,o,7,2", "4800,o,7,1", false},
                          {"19200,n,8,2", "19200,n,8,1", false}};
    for (const Case& c : cases) {
        Sim sim({"--rate", "20", "--weight", "4321", "--settings", c.sender});
        ASSERT_TRUE(sim.started);
        ASSERT_TRUE(sim.open(QLatin1String(c.reader)));
        QByteArray frame = "ST,GS,+004321kg\r\n";
        if (c.bit7)  // even parity: bit 7 set where the character has an odd count of ones
            for (char& ch : frame)
                if (__builtin_popcount(static_cast<unsigned char>(ch)) % 2) ch = static_cast<char>(ch | 0x80);
        EXPECT_TRUE(pumpUntil([&] { return sim.received.contains(frame); }))
            << c.sender << " at " << c.reader << ": " << sim.received.toHex().toStdString();
    }
}

TEST(IndicatorSim, PolledModeAnswersOnlyItsRequest) {
    struct Case {
        const char* request;
        QList<QByteArray> ignored;
        QList<QByteArray> answered;
    };
    const Case cases[] = {
        {"ENQ", {"ENQ", "$", "\r"}, {QByteArray(1, '\x05'), QByteArray("\x05\r")}},
        {"$", {"?", "\x05", "\r"}, {"$", "$\r"}},
        {"?", {"$"}, {"?\r"}},
    };
    for (const Case& c : cases) {
        Sim sim({"--mode", "poll", "--request", c.request, "--weight", "777", "--format", "stx-cr"});
        ASSERT_TRUE(sim.started);
        ASSERT_TRUE(sim.open(QStringLiteral("9600,n,8,1")));
        for (const QByteArray& other : c.ignored) ASSERT_TRUE(sim.port.write(other));
        settle(400);
        EXPECT_TRUE(sim.received.isEmpty()) << c.request << ": " << sim.received.toStdString();
        int expected = 0;
        for (const QByteArray& request : c.answered) {
            ASSERT_TRUE(sim.port.write(request));
            ++expected;
            ASSERT_TRUE(pumpUntil([&] { return sim.received.count("\x02+000777kg\r") == expected; }))
                << c.request << " " << sim.received.toStdString();
        }
        settle(200);
        EXPECT_EQ(sim.received, QByteArray("\x02+000777kg\r").repeated(expected)) << c.request;
    }
}

// Through the control socket. (That the port is told of each loss once is serial_port_test's.)
TEST(IndicatorSim, UnplugAndReplugLikeAUsbAdapter) {
    Sim sim({"--rate", "20", "--weight", "10"});
    ASSERT_TRUE(sim.started);
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_TRUE(sim.open(QStringLiteral("9600,n,8,1"))) << sim.port.lastError().toStdString();
        ASSERT_TRUE(pumpUntil([&] { return sim.received.contains("+000010kg"); }));
        EXPECT_EQ(sim.socketCommand(QStringLiteral("unplug")), QStringLiteral("ok"));
        ASSERT_TRUE(pumpUntil([&] { return !sim.port.isOpen(); }));
        EXPECT_FALSE(QFileInfo::exists(sim.link));
        EXPECT_FALSE(sim.port.open());
        const QString reply = sim.socketCommand(QStringLiteral("replug"));
        EXPECT_TRUE(reply.startsWith(QLatin1String("ok /dev/pts/"))) << reply.toStdString();
    }
}

TEST(IndicatorSim, TruckTakesTheWeightThatFollowsIt) {
    Sim sim({"--truck", "30000"});
    ASSERT_TRUE(sim.started);
    EXPECT_TRUE(sim.command(QStringLiteral("status")).contains(QLatin1String("30000:8")));
}

TEST(IndicatorSim, StopsCleanlyLeavingNothingBehind) {
    for (const bool bySignal : {false, true}) {
        Sim sim({"--weight", "1"});
        ASSERT_TRUE(sim.started);
        ASSERT_TRUE(QFileInfo(sim.link).isSymLink());
        ASSERT_TRUE(QFileInfo::exists(sim.control));
        if (bySignal)
            sim.process.terminate();
        else
            EXPECT_EQ(sim.command(QStringLiteral("quit")), QStringLiteral("ok"));
        ASSERT_TRUE(pumpUntil([&] { return sim.process.state() == QProcess::NotRunning; }));
        EXPECT_EQ(sim.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(sim.process.exitCode(), 0);
        EXPECT_FALSE(QFileInfo(sim.link).isSymLink());
        EXPECT_FALSE(QFileInfo::exists(sim.control));
        EXPECT_FALSE(QFileInfo::exists(sim.device)) << "the device goes with the simulator";
    }
}

TEST(IndicatorSim, BadArgumentsExitWithAMessage) {
    for (const QStringList& args :
         {QStringList{"--format", "nope"}, QStringList{"--settings", "9600,n,8"}, QStringList{"--rate"},
          QStringList{"--mode", "sometimes"}, QStringList{"--frobnicate"}, QStringList{"--program", "1:0"},
          QStringList{"7"}, QStringList{"--truck", "7", "8"},
          QStringList{"--weight", "5", "--truck", "--once", "7"}, QStringList{"--truck", "-7"},
          QStringList{"--rate", "x", "--rate", "5"}}) {
        const ProgramRun run = runProgram(appProgram("indicator-sim"), args);
        EXPECT_EQ(run.exitCode, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_TRUE(run.err.startsWith(QLatin1String("indicator-sim: "))) << args.join(u' ').toStdString();
    }
}
