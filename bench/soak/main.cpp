// veltrane-soak [--chars N] [--max-growth-kb K]
//
// A writer process plays an indicator on a pseudo-terminal: trucks drive on, stand still and leave, in
// frames of the common "ST,GS,+001234kg" layout, as fast as the line takes them. This process is the
// program's receive path with its real parts: Qt SerialPort on the pty's device, the weighing core on a
// real settings database (CSV file and weight log written at each serving) and an advised client of
// the live feed on its local socket. At the end: every frame sent was decoded as a record, every truck
// was served once, and the resident size grew less than the limit after the warm-up.
//
// Exit status 0 when all holds, 1 otherwise.

#include "config/comports.h"
#include "config/schema.h"
#include "config/settings.h"
#include "core/main_view.h"
#include "core/weighing_core.h"
#include "platform/database.h"
#include "platform/dde.h"
#include "platform/event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/timers.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using namespace veltrane;

namespace {

constexpr int kEmptyFrames = 20;
constexpr int kLoadedFrames = 40;

QByteArray frame(int weight) {
    char text[32];
    std::snprintf(text, sizeof text, "ST,GS,+%06dkg\r\n", weight);
    return QByteArray(text);
}

// Truck i's weight: never below the autosave minimum, never the same twice running.
int truckWeight(long i) {
    return 1000 + static_cast<int>((i * 7919) % 40000);
}

struct Plan {
    long frames = 0;
    long trucks = 0;
    qint64 chars = 0;
};

Plan planFor(qint64 chars) {
    Plan p;
    const qint64 perTruck = (kEmptyFrames + kLoadedFrames) * frame(0).size();
    p.trucks = static_cast<long>((chars + perTruck - 1) / perTruck);
    p.frames = p.trucks * (kEmptyFrames + kLoadedFrames);
    p.chars = p.trucks * perTruck;
    return p;
}

// The child: writes the whole stream to the pty master. Blocking writes: a pty holds back a writer
// whose reader is slow, it does not drop, so any loss would be the reader's.
[[noreturn]] void writeStream(int master, int go, const Plan& plan) {
    char c;
    if (::read(go, &c, 1) != 1) ::_exit(2);
    QByteArray chunk;
    auto flush = [&] {
        const char* p = chunk.constData();
        qsizetype left = chunk.size();
        while (left > 0) {
            const ssize_t n = ::write(master, p, static_cast<size_t>(left));
            if (n < 0) ::_exit(3);
            p += n;
            left -= n;
        }
        chunk.clear();
    };
    for (long t = 0; t < plan.trucks; ++t) {
        for (int i = 0; i < kEmptyFrames; ++i) chunk += frame(0);
        for (int i = 0; i < kLoadedFrames; ++i) chunk += frame(truckWeight(t));
        if (chunk.size() > 8192) flush();
    }
    flush();
    ::_exit(0);
}

long residentKb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (::sysconf(_SC_PAGESIZE) / 1024) : 0;
}

class QuietView final : public MainView {
public:
    void setWeightText(const QString&) override {}
    void setRawText(const QString&) override {}
    void setRawVisible(bool) override {}
    bool rawVisible() const override { return false; }
    void setStatusText(const QString&) override {}
    void appendStatusText(const QString&) override {}
    void setStableCountText(const QString&) override {}
    void setPortStatusText(const QString& text) override { portStatus = text; }
    void setPortToolTip(const QString&) override {}
    void setPortNumberText(const QString&) override {}
    void setPortButtonCaption(const QString&) override {}
    void setCaption(const QString&) override {}
    QString caption() const override { return {}; }
    QString portStatus;
};

// Boxes would stop an unattended run; each one is a failure of the soak.
struct CountingPrompts final : Prompts {
    void message(const QString& text, MessageIcon, const QString&) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        ++boxes;
    }
    bool askYesNo(const QString&, const QString&) override { return ++boxes, false; }
    QString input(const QString&, const QString&, const QString&) override { return ++boxes, QString(); }
    void beep() override {}
    void setPointer(Pointer) override {}
    int boxes = 0;
};
struct NoSound final : Sound {
    bool play(const QString&) override { return true; }
};
struct NoShell final : ShellOpen {
    bool open(const QString&) override { return true; }
    bool startProgram(const QString&) override { return true; }
};
struct NoClipboard final : Clipboard {
    void clear() override {}
    void setText(const QString&) override {}
};

struct Counter final : CoreObserver {
    // The separator before the first frame ends an empty record of its own: only records with
    // characters are frames.
    void recordCompleted(const QByteArray& record, const QString&) override {
        if (!record.isEmpty()) ++records;
    }
    void served(const QString& w) override {
        if (w != QString::number(truckWeight(servings))) ++wrongServings;
        ++servings;
    }
    long records = 0;
    long servings = 0;
    long wrongServings = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qint64 chars = 10'000'000;
    long maxGrowthKb = -1;  // not checked unless asked
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--chars")
            chars = args[i + 1].toLongLong();
        else if (args[i] == u"--max-growth-kb")
            maxGrowthKb = args[i + 1].toLong();
    }
    const Plan plan = planFor(chars);

    QTemporaryDir folder;
    const QString appFolder = folder.path() + QLatin1Char('/');
    QDir().mkpath(appFolder + QStringLiteral("out"));
    QFile keep(appFolder + QStringLiteral("out/keep.txt"));
    keep.open(QIODevice::WriteOnly);
    const QString settingsPath = appFolder + QString::fromLatin1(kSettingsDatabaseName);
    createSettingsDatabase(settingsPath, appFolder + QStringLiteral("out/"));
    createExportTemplate(appFolder + QString::fromLatin1(kExportDatabaseName));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder.path()));

    int master = -1, slave = -1;
    char slaveName[256] = {};
    if (::openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    writeComportDevice(settingsPath, 1, QString::fromLocal8Bit(slaveName));
    int go[2];
    if (::pipe(go) != 0) return 1;
    const pid_t writer = ::fork();
    if (writer == 0) {
        ::close(go[1]);
        ::close(slave);
        writeStream(master, go[0], plan);
    }
    ::close(go[0]);

    SystemClock clock;
    CountingPrompts prompts;
    QtEventPump events;
    QtTimerService timers;
    NoSound sound;
    NoShell shell;
    NoClipboard clipboard;
    QtSerialPort port{settingsDeviceResolver(settingsPath)};
    std::unique_ptr<DdeServer> feed = createLocalDdeServer(QStringLiteral("veltrane"));
    Services services{clock, prompts, events, timers, sound, shell, clipboard, port, *feed, appFolder};
    Settings settings;
    QuietView view;
    WeighingCore core{services, settings, view};
    Counter counter;
    core.setObserver(&counter);

    core.OpenSerialPort();
    // The pty's own end was only held so the device existed until the port opened.
    ::close(slave);
    if (!core.isPortOpen()) {
        std::fprintf(stderr, "the port did not open: %s\n", qPrintable(port.lastError()));
        return 1;
    }

    QLocalSocket client;
    client.connectToServer(ddeSocketPath(QStringLiteral("veltrane")));
    if (!client.waitForConnected(5000)) {
        std::fprintf(stderr, "no live feed\n");
        return 1;
    }
    client.write("ADVISE veltrane weightdata\n");
    long feedLines = 0;
    QObject::connect(&client, &QLocalSocket::readyRead, [&] {
        while (client.canReadLine()) {
            client.readLine();
            ++feedLines;
        }
    });

    QElapsedTimer elapsed;
    elapsed.start();
    if (::write(go[1], "g", 1) != 1) return 1;

    // Warm-up: the first tenth of the stream (caches, the database's pages, the socket's buffers).
    long warmKb = 0;
    const long warmRecords = plan.frames / 10;
    QDeadlineTimer stall(60000);
    long lastRecords = -1;
    while (counter.records < plan.frames) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (warmKb == 0 && counter.records >= warmRecords) warmKb = residentKb();
        if (counter.records != lastRecords) {
            lastRecords = counter.records;
            stall.setRemainingTime(60000);
        } else if (stall.hasExpired()) {
            break;  // a minute without a record: the rest is lost
        }
    }
    const double seconds = static_cast<double>(elapsed.elapsed()) / 1000.0;
    const long endKb = residentKb();
    // The feed's last lines may still be on their way.
    QDeadlineTimer drain(5000);
    while (!drain.hasExpired() && client.bytesAvailable() == 0 && feedLines == 0)
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    int status = 0;
    ::waitpid(writer, &status, 0);
    auto logRows = Database::open(settingsPath, QString::fromLatin1(kSettingsDatabaseConnect))
                       ->openRecordSet(QStringLiteral("select * from weightlog"))
                       ->recordCount();

    std::printf("characters sent      %lld\n", static_cast<long long>(plan.chars));
    std::printf("records sent/decoded %ld / %ld\n", plan.frames, counter.records);
    std::printf("trucks sent/served   %ld / %ld (weight log rows %d, wrong weights %ld)\n", plan.trucks,
                counter.servings, logRows, counter.wrongServings);
    std::printf("live-feed lines      %ld\n", feedLines);
    std::printf("time                 %.1f s (%.0f characters/s)\n", seconds,
                static_cast<double>(plan.chars) / seconds);
    std::printf("resident after warm-up %ld kB, at end %ld kB, growth %ld kB\n", warmKb, endKb,
                endKb - warmKb);

    bool ok = counter.records == plan.frames && counter.servings == plan.trucks &&
              counter.wrongServings == 0 && logRows == plan.trucks && prompts.boxes == 0 && feedLines > 0 &&
              WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (maxGrowthKb >= 0 && endKb - warmKb >= maxGrowthKb) {
        std::printf("resident growth over the limit of %ld kB\n", maxGrowthKb);
        ok = false;
    }
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
