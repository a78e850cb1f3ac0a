// The simulator program on its pty, read through the project's own serial port, as Veltrane reads it.
#include "platform/qt_serial_port.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace veltrane;
using veltrane::test::pumpUntil;

namespace {

void settle(int ms) {
    pumpUntil([] { return false; }, ms);
}

// The simulator as a child process, its device behind port 3 of a QtSerialPort.
class Sim {
public:
    explicit Sim(QStringList args) {
        link = dir.filePath(QStringLiteral("scale"));
        control = dir.filePath(QStringLiteral("control"));
        args << QStringLiteral("--link") << link << QStringLiteral("--control") << control;
        process.start(qEnvironmentVariable("VELTRANE_APP_DIR") + QStringLiteral("/indicator-sim"), args);
        started = process.waitForStarted(10000) && pumpUntil([&] { return process.canReadLine(); });
        if (started) path = QString::fromLocal8Bit(process.readLine()).trimmed();
        QObject::connect(&port, &SerialPort::byteReceived, [this](char c) { received.append(c); });
        port.setPortNumber(3);
    }
    ~Sim() {
        port.close();
        process.terminate();
        process.waitForFinished(5000);
    }

    bool open(const QString& settings) {
        port.setSettingsText(settings);
        received.clear();
        return port.open();
    }
    // An answer line to a command on standard input.
    QString command(const QString& line) {
        process.write(line.toUtf8() + '\n');
        if (!pumpUntil([&] { return process.canReadLine(); })) return {};
        return QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    QString socketCommand(const QString& line) {
        QLocalSocket s;
        s.connectToServer(control);
        if (!s.waitForConnected(5000)) return QStringLiteral("no connection");
        s.write(line.toUtf8() + '\n');
        if (!pumpUntil([&] { return s.canReadLine(); })) return {};
        return QString::fromUtf8(s.readLine()).trimmed();
    }
    // Complete CR LF frames received so far; the first piece may be a frame cut by the opening.
    QList<QByteArray> frames() const {
        QList<QByteArray> out = received.split('\n');
        out.removeLast();
        for (QByteArray& f : out) f = f.trimmed();
        return out;
    }

    QTemporaryDir dir;
    QString link, control, path;
    QProcess process;
    bool started = false;
    QtSerialPort port{[this](int n) { return n == 3 ? link : QString(); }};
    QByteArray received;
};

}  // namespace

TEST(IndicatorSim, FramesArriveInOrderAtTheRightSettings) {
    Sim sim({"--settings", "19200,n,8,1", "--rate", "20", "--weight", "100", "--once"});
    ASSERT_TRUE(sim.started);
    EXPECT_TRUE(sim.path.startsWith(QLatin1String("/dev/pts/"))) << sim.path.toStdString();
    ASSERT_TRUE(sim.open(QStringLiteral("19200,n,8,1"))) << sim.port.lastError().toStdString();
    ASSERT_TRUE(pumpUntil([&] { return sim.frames().count("ST,GS,+000100kg") >= 2; }));
    EXPECT_EQ(sim.command(QStringLiteral("program 200:1,300:1")), QStringLiteral("ok"));
    ASSERT_TRUE(pumpUntil([&] { return sim.frames().count("ST,GS,+000300kg") >= 2; }));
    QList<QByteArray> frames = sim.frames();
    frames.removeFirst();
    int last = 0;
    for (const QByteArray& f : frames) {
        ASSERT_TRUE(f.startsWith("ST,GS,+000") && f.endsWith("kg") && f.size() == 15) << f.toStdString();
        const int w = f.mid(7, 6).toInt();
        EXPECT_GE(w, last) << "frames out of order";
        last = w;
    }
    EXPECT_TRUE(frames.contains("ST,GS,+000200kg"));
}

TEST(IndicatorSim, WrongBaudOrStopBitsYieldNoWeight) {
    Sim sim({"--rate", "20", "--weight", "4321"});
    ASSERT_TRUE(sim.started);
    for (const char* wrong : {"4800,n,8,1", "2400,n,8,1", "38400,n,8,1", "9600,n,8,2"}) {
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

TEST(IndicatorSim, UnplugAndReplugLikeAUsbAdapter) {
    Sim sim({"--rate", "20", "--weight", "10"});
    ASSERT_TRUE(sim.started);
    QSignalSpy lost(&sim.port, &SerialPort::deviceLost);
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_TRUE(sim.open(QStringLiteral("9600,n,8,1"))) << sim.port.lastError().toStdString();
        ASSERT_TRUE(pumpUntil([&] { return sim.received.contains("+000010kg"); }));
        EXPECT_EQ(sim.socketCommand(QStringLiteral("unplug")), QStringLiteral("ok"));
        ASSERT_TRUE(pumpUntil([&] { return lost.count() == cycle + 1; }));
        EXPECT_FALSE(sim.port.isOpen());
        EXPECT_FALSE(QFileInfo::exists(sim.link));
        EXPECT_FALSE(sim.port.open());
        const QString reply = sim.socketCommand(QStringLiteral("replug"));
        EXPECT_TRUE(reply.startsWith(QLatin1String("ok /dev/pts/"))) << reply.toStdString();
    }
    settle(200);
    EXPECT_EQ(lost.count(), 3);
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
        EXPECT_FALSE(QFileInfo::exists(sim.path)) << "the device goes with the simulator";
    }
}

TEST(IndicatorSim, BadArgumentsExitWithAMessage) {
    const QString program = qEnvironmentVariable("VELTRANE_APP_DIR") + QStringLiteral("/indicator-sim");
    for (const QStringList& args :
         {QStringList{"--format", "nope"}, QStringList{"--settings", "9600,n,8"}, QStringList{"--rate"},
          QStringList{"--mode", "sometimes"}, QStringList{"--frobnicate"}, QStringList{"--program", "1:0"},
          QStringList{"7"}, QStringList{"--truck", "7", "8"},
          QStringList{"--weight", "5", "--truck", "--once", "7"}, QStringList{"--truck", "-7"},
          QStringList{"--rate", "x", "--rate", "5"}}) {
        QProcess p;
        p.start(program, args);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
        EXPECT_TRUE(p.readAllStandardError().startsWith("indicator-sim: ")) << args.join(u' ').toStdString();
    }
    QProcess help;
    help.start(program, {"--help"});
    ASSERT_TRUE(help.waitForFinished(10000));
    const QByteArray text = help.readAllStandardOutput();
    for (const char* word :
         {"reversed", "tare-net", "implied", "template", "poll", "unplug", "replug", "parity"})
        EXPECT_TRUE(text.contains(word)) << word;
}
