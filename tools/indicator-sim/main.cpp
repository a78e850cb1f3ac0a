// indicator-sim: a weighing indicator on a pseudo-terminal, for tests, demonstrations and integrators.
#include "tools/indicator-sim/control_channel.h"
#include "tools/indicator-sim/simulator.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStringList>

#include <unistd.h>
#include <csignal>
#include <cstdio>

using namespace veltrane::sim;

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

QString helpText() {
    QString formats;
    Reading example;
    example.weight = 1234;
    example.tare = 200;
    for (const FrameFormat& f : builtinFormats()) {
        const QString frame = escape(makeFrame(QLatin1String(f.name), example).value_or(QByteArray()));
        formats +=
            QStringLiteral("  %1 %2\n      %3\n")
                .arg(QLatin1String(f.name), -10)
                .arg(*f.templateText
                         ? QStringLiteral("%1  e.g. %2").arg(QLatin1String(f.templateText), -34).arg(frame)
                         : QString(),
                     QLatin1String(f.description));
    }
    return QStringLiteral(
               "Usage: indicator-sim [options]\n"
               "\n"
               "Plays a weighing indicator on a new pseudo-terminal. The first line on standard output is "
               "the\n"
               "device path; open it with any serial program (cat, socat, Veltrane through the comports "
               "table).\n"
               "\n"
               "Options:\n"
               "  --link PATH           also make PATH a symbolic link to the device (an old link is "
               "replaced,\n"
               "                        any other file is not); removed again at exit\n"
               "  --settings TEXT       line settings, baud,parity,data bits,stop bits (default 9600,n,8,1)\n"
               "  --format NAME         frame format, see below (default st-gs)\n"
               "  --template TEXT       free frame text with placeholders; selects the format \"template\"\n"
               "  --mode MODE           continuous (default), print or poll\n"
               "  --rate HZ             frames per second in continuous mode (default 5)\n"
               "  --request TEXT        poll mode: the request that makes it answer (default ENQ = byte 5;\n"
               "                        e.g. '$' or '?'); a CR after the request is accepted and ignored\n"
               "  --weight W            a fixed, stable weight (default 0)\n"
               "  --program SPEC        weight programme: weight:seconds[:settle],... e.g. 0:5,1234:10,0:5\n"
               "  --truck [W]           the truck cycle: empty, driving on, rocking, stable at W (default "
               "24360),\n"
               "                        driving off, empty\n"
               "  --noise A             settling noise amplitude (weight units) at the start of each step\n"
               "  --settle S            seconds each step settles (unstable) unless the step says otherwise\n"
               "  --once                hold the last step instead of repeating the programme\n"
               "  --tare W              tare for the tare-net format (default 0)\n"
               "  --decimals N          decimals of the weight, 0 to 6 (default 0)\n"
               "  --unit TEXT           unit text (default kg)\n"
               "  --replay FILE         send the bytes of FILE (a recorded stream) instead of frames\n"
               "  --replay-rate BPS     bytes per second for --replay (default baud/10; 0 = as fast as "
               "read)\n"
               "  --replay-loop         repeat the replay for ever\n"
               "  --control PATH        also take commands on a local socket at PATH\n"
               "  --no-stdin            do not read commands from standard input\n"
               "  --help                this text\n"
               "\n"
               "Formats (layout, then the frame for the weight 1234 with tare 200; \\x02 is STX, \\x03 "
               "ETX):\n"
               "%1"
               "\n"
               "Template placeholders: {weight} {sign} {tare} {gross} {implied} (weight without decimal "
               "point)\n"
               "{reversed} (weight digits least significant first) {unit} {status} (ST/US) {motion} (S/M).\n"
               "A width pads: {weight:06} with zeros, {weight:7} with blanks. Escapes: \\r \\n \\t \\\\ "
               "\\xNN and\n"
               "<STX> <ETX> <ENQ> <ACK> <NAK> <CR> <LF> <ETB> <ESC>.\n"
               "\n"
               "Modes: continuous sends a frame every 1/rate seconds; print sends one frame per print "
               "command;\n"
               "poll answers one frame each time the request arrives.\n"
               "\n"
               "Line settings: before each frame the simulator reads the settings the reader has set on the\n"
               "device. When the baud rate or the stop bits differ from its own it sends what a receiver at\n"
               "those settings would make of the frame (garbage, with NUL for framing errors), so only the "
               "right\n"
               "settings yield the weight. A pseudo-terminal cannot carry parity or 7 data bits (the pty\n"
               "driver refuses or drops them), so mismatches of those cannot be shown here. A request sent "
               "at\n"
               "the wrong settings arrives garbled too and is not answered.\n"
               "\n"
               "The simulator keeps the device open itself: readers may close and reopen it at will, and\n"
               "frames nobody reads are dropped after about two seconds, as on an unattended line.\n"
               "\n"
               "Commands (one per line on standard input or the control socket; answers start with \"ok\" "
               "or\n"
               "\"error:\"):\n"
               "  weight W | truck [W] | program SPEC | noise A | settle S | tare W\n"
               "  print                  send one frame now (any mode)\n"
               "  format NAME | template TEXT | settings TEXT | mode MODE | rate HZ | request TEXT\n"
               "  send TEXT              send raw bytes (escapes as above)\n"
               "  replay                 start the --replay recording again from its beginning\n"
               "  pause | resume         stop and restart sending\n"
               "  unplug                 close the device and remove the link, as pulling a USB adapter\n"
               "  replug                 a new device (the link follows it); answers \"ok <path>\"\n"
               "  status | help | quit\n"
               "\n"
               "Exit status: 0 after quit or SIGINT/SIGTERM/SIGHUP, 1 when the device cannot be made, 2 on "
               "bad "
               "arguments.\n")
        .arg(formats);
}

[[noreturn]] void usageError(const QString& message) {
    std::fprintf(stderr, "indicator-sim: %s\n(see indicator-sim --help)\n",
                 message.toLocal8Bit().constData());
    std::exit(2);
}

double numberArg(const QString& option, const QString& text, double min, double max) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || v < min || v > max)
        usageError(QStringLiteral("%1 needs a number from %2 to %3, not \"%4\"")
                       .arg(option)
                       .arg(min)
                       .arg(max)
                       .arg(text));
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    SimulatorConfig config;
    QString programmeText;
    bool truck = false;
    double truckWeight = 24360;
    double noise = -1, settle = -1, fixedWeight = 0;
    bool once = false, useStdin = true;
    QString controlPath, replayFile;

    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& opt = args[i];
        auto value = [&]() -> QString {
            if (i + 1 >= args.size()) usageError(QStringLiteral("%1 needs a value").arg(opt));
            return args[++i];
        };
        QString why;
        if (opt == u"--help" || opt == u"-h") {
            std::fputs(helpText().toLocal8Bit().constData(), stdout);
            return 0;
        } else if (opt == u"--link") {
            config.link = value();
        } else if (opt == u"--settings") {
            const std::optional<LineSettings> s = LineSettings::parse(value(), &why);
            if (!s) usageError(why);
            config.settings = *s;
        } else if (opt == u"--format") {
            config.format = value();
            if (!findFormat(config.format))
                usageError(QStringLiteral("unknown format \"%1\"").arg(config.format));
        } else if (opt == u"--template") {
            const std::optional<QByteArray> t = unescape(value(), &why);
            if (!t) usageError(why);
            if (!expandTemplate(*t, config.reading, &why)) usageError(why);
            config.userTemplate = *t;
            config.format = QStringLiteral("template");
        } else if (opt == u"--mode") {
            const std::optional<Mode> m = parseMode(value());
            if (!m) usageError(QStringLiteral("--mode is continuous, print or poll"));
            config.mode = *m;
        } else if (opt == u"--rate") {
            config.rate = numberArg(opt, value(), 0.01, 1000);
        } else if (opt == u"--request") {
            const std::optional<QByteArray> r = requestBytes(value(), &why);
            if (!r) usageError(why);
            config.request = *r;
        } else if (opt == u"--weight") {
            fixedWeight = numberArg(opt, value(), -1e9, 1e9);
        } else if (opt == u"--program" || opt == u"--programme") {
            programmeText = value();
        } else if (opt == u"--truck") {
            truck = true;
            if (i + 1 < args.size() && !args[i + 1].startsWith(u"--"))
                truckWeight = numberArg(opt, args[++i], 0, 1e9);
        } else if (opt == u"--noise") {
            noise = numberArg(opt, value(), 0, 1e9);
        } else if (opt == u"--settle") {
            settle = numberArg(opt, value(), 0, 3600);
        } else if (opt == u"--once") {
            once = true;
        } else if (opt == u"--tare") {
            config.reading.tare = numberArg(opt, value(), -1e9, 1e9);
        } else if (opt == u"--decimals") {
            config.reading.decimals = static_cast<int>(numberArg(opt, value(), 0, 6));
        } else if (opt == u"--unit") {
            config.reading.unit = value();
        } else if (opt == u"--replay") {
            replayFile = value();
        } else if (opt == u"--replay-rate") {
            config.replayRate = numberArg(opt, value(), 0, 1e9);
        } else if (opt == u"--replay-loop") {
            config.replayLoop = true;
        } else if (opt == u"--control") {
            controlPath = value();
        } else if (opt == u"--no-stdin") {
            useStdin = false;
        } else {
            usageError(QStringLiteral("unknown argument \"%1\"").arg(opt));
        }
    }
    if (config.format == u"template" && config.userTemplate.isEmpty())
        usageError(QStringLiteral("the format \"template\" needs --template TEXT"));
    for (const QString& path : {config.link, controlPath}) {
        const QFileInfo info(path);
        if (!path.isEmpty() && !info.isSymLink() && (info.isFile() || info.isDir()))
            usageError(QStringLiteral("%1 exists and is not ours to replace").arg(path));
    }
    if (truck && !programmeText.isEmpty())
        usageError(QStringLiteral("--truck and --program exclude each other"));
    if (truck) {
        config.programme = WeightProgramme::truckCycle(truckWeight);
    } else if (!programmeText.isEmpty()) {
        QString why;
        const std::optional<WeightProgramme> p = WeightProgramme::parse(programmeText, &why);
        if (!p) usageError(why);
        config.programme = *p;
    } else {
        config.programme = WeightProgramme::fixed(fixedWeight);
    }
    if (noise >= 0) config.programme.noise = noise;
    if (settle >= 0) config.programme.settle = settle;
    config.programme.loop = !once;
    if (!replayFile.isEmpty()) {
        QFile f(replayFile);
        if (!f.open(QIODevice::ReadOnly))
            usageError(QStringLiteral("cannot read %1: %2").arg(replayFile, f.errorString()));
        config.replay = f.readAll();
        if (config.replay.isEmpty()) usageError(QStringLiteral("%1 is empty").arg(replayFile));
    }

    Simulator sim(config);
    ControlChannel control([&sim](const QString& line) { return sim.command(line); });
    QObject::connect(&sim, &Simulator::quitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    // SIGINT, SIGTERM and SIGHUP end the event loop, so the link and socket are removed on the way out.
    if (::pipe(g_signalPipe) != 0) return 1;
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGHUP, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    QString error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "indicator-sim: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    if (!controlPath.isEmpty() && !control.listenOnSocket(controlPath, &error)) {
        std::fprintf(stderr, "indicator-sim: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::fprintf(stdout, "%s\n", sim.slavePath().toLocal8Bit().constData());
    std::fflush(stdout);
    std::fprintf(stderr, "indicator-sim: %s\n", sim.describe().toLocal8Bit().constData());
    if (useStdin) control.listenOnStdin();

    const int rc = app.exec();
    sim.stop();
    return rc;
}
