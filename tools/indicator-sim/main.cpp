// indicator-sim: a weighing indicator on a pseudo-terminal, for tests, demonstrations and integrators.
#include "tools/indicator-sim/control_channel.h"
#include "tools/indicator-sim/simulator.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStringList>

#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <optional>

using namespace veltrane::sim;

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

// What --help shows after the generated list of options.
QString helpDetails() {
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
               "device and sends what a UART at those settings receives: the frame's bits sampled at the\n"
               "reader's speed and frame (parity unchecked, only the first stop bit checked, a framing "
               "error\n"
               "delivering the bits sampled). Seven data bits with parity read at 8N1 arrive with the "
               "parity\n"
               "in bit 7; two stop bits read with one arrive clean. A pseudo-terminal forces 8 data bits "
               "and\n"
               "drops the parity flag, so the reader's frame is read from what the pty keeps: ISTRIP (a "
               "port\n"
               "of 7 data bits), PARODD, CMSPAR and CSTOPB. Requests are received the same way.\n"
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

QCommandLineOption option(const char* name, const char* description, const char* valueName = nullptr) {
    return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
                              valueName ? QString::fromLatin1(valueName) : QString());
}

// The options in the order --help lists them.
struct Options {
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("This text.")};
    QCommandLineOption link = option("link",
                                     "Also make PATH a symbolic link to the device (an old link is replaced, "
                                     "any other file is not); removed again at exit.",
                                     "PATH");
    QCommandLineOption settings =
        option("settings", "Line settings, baud,parity,data bits,stop bits (default 9600,n,8,1).", "TEXT");
    QCommandLineOption format = option("format", "Frame format, see below (default st-gs).", "NAME");
    QCommandLineOption templateText =
        option("template", "Free frame text with placeholders; selects the format \"template\".", "TEXT");
    QCommandLineOption mode = option("mode", "continuous (default), print or poll.", "MODE");
    QCommandLineOption rate = option("rate", "Frames per second in continuous mode (default 5).", "HZ");
    QCommandLineOption request = option("request",
                                        "Poll mode: the request that makes it answer (default ENQ = byte 5; "
                                        "e.g. '$' or '?'); a CR after the request is accepted and ignored.",
                                        "TEXT");
    QCommandLineOption weight = option("weight", "A fixed, stable weight (default 0).", "W");
    QCommandLineOption program{
        {QStringLiteral("program"), QStringLiteral("programme")},
        QStringLiteral("Weight programme: weight:seconds[:settle],... e.g. 0:5,1234:10,0:5."),
        QStringLiteral("SPEC")};
    QCommandLineOption truck =
        option("truck",
               "The truck cycle: empty, driving on, rocking, stable at W (the argument "
               "after --truck, default 24360), driving off, empty.");
    QCommandLineOption noise =
        option("noise", "Settling noise amplitude (weight units) at the start of each step.", "A");
    QCommandLineOption settle =
        option("settle", "Seconds each step settles (unstable) unless the step says otherwise.", "S");
    QCommandLineOption once = option("once", "Hold the last step instead of repeating the programme.");
    QCommandLineOption tare = option("tare", "Tare for the tare-net format (default 0).", "W");
    QCommandLineOption decimals = option("decimals", "Decimals of the weight, 0 to 6 (default 0).", "N");
    QCommandLineOption unit = option("unit", "Unit text (default kg).", "TEXT");
    QCommandLineOption replay =
        option("replay", "Send the bytes of FILE (a recorded stream) instead of frames.", "FILE");
    QCommandLineOption replayRate =
        option("replay-rate", "Bytes per second for --replay (default baud/10; 0 = as fast as read).", "BPS");
    QCommandLineOption replayLoop = option("replay-loop", "Repeat the replay for ever.");
    QCommandLineOption control = option("control", "Also take commands on a local socket at PATH.", "PATH");
    QCommandLineOption noStdin = option("no-stdin", "Do not read commands from standard input.");
    QCommandLineOption reportHeard =
        option("report-heard", "Print each read from the line as \"heard HEX\" on standard output.");

    QList<QCommandLineOption> all() const {
        return {help,   link,    settings,   format,     templateText, mode,    rate,       request,
                weight, program, truck,      noise,      settle,       once,    tare,       decimals,
                unit,   replay,  replayRate, replayLoop, control,      noStdin, reportHeard};
    }
};

// --truck takes an optional weight: the argument right after it, unless that is an option. The parser
// knows no optional values, so that argument arrives as a positional one and is matched up here.
std::optional<QString> truckWeightArgument(const QStringList& args, const QStringList& positional) {
    std::optional<QString> weight;
    for (const QString& text : positional) {
        bool afterTruck = false;
        for (qsizetype i = 1; i < args.size() && !afterTruck; ++i)
            afterTruck = args[i - 1] == u"--truck" && args[i] == text;
        if (weight || !afterTruck) usageError(QStringLiteral("unknown argument \"%1\"").arg(text));
        weight = text;
    }
    return weight;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Options o;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays a weighing indicator on a new pseudo-terminal. The first line on standard output is "
        "the\ndevice path; open it with any serial program (cat, socat, Veltrane through the "
        "comports table)."));
    parser.addOptions(o.all());
    if (!parser.parse(app.arguments())) usageError(parser.errorText());
    if (parser.isSet(o.help)) {
        std::fputs((parser.helpText() + QLatin1Char('\n') + helpDetails()).toLocal8Bit().constData(), stdout);
        return 0;
    }
    const std::optional<QString> truckWeightText =
        truckWeightArgument(app.arguments().mid(1), parser.positionalArguments());
    // An option given twice: each value must be good, the last one counts.
    auto number = [&](const QCommandLineOption& opt, double min, double max, double fallback) {
        double v = fallback;
        for (const QString& text : parser.values(opt))
            v = numberArg(QStringLiteral("--") + opt.names().constFirst(), text, min, max);
        return v;
    };

    SimulatorConfig config;
    QString why;
    if (parser.isSet(o.link)) config.link = parser.value(o.link);
    for (const QString& text : parser.values(o.settings)) {
        const std::optional<LineSettings> s = LineSettings::parse(text, &why);
        if (!s) usageError(why);
        config.settings = *s;
    }
    for (const QString& name : parser.values(o.format))
        if (!findFormat(name)) usageError(QStringLiteral("unknown format \"%1\"").arg(name));
    for (const QString& text : parser.values(o.templateText)) {
        const std::optional<QByteArray> t = unescape(text, &why);
        if (!t || !expandTemplate(*t, config.reading, &why)) usageError(why);
        config.userTemplate = *t;
    }
    // --format and --template both choose the format: the later one on the command line wins.
    for (const QString& name : parser.optionNames()) {
        if (o.format.names().contains(name))
            config.format = parser.value(o.format);
        else if (o.templateText.names().contains(name))
            config.format = QStringLiteral("template");
    }
    config.reading.tare = number(o.tare, -1e9, 1e9, config.reading.tare);
    config.reading.decimals = static_cast<int>(number(o.decimals, 0, 6, config.reading.decimals));
    if (parser.isSet(o.unit)) config.reading.unit = parser.value(o.unit);
    for (const QString& text : parser.values(o.mode)) {
        const std::optional<Mode> m = parseMode(text);
        if (!m) usageError(QStringLiteral("--mode is continuous, print or poll"));
        config.mode = *m;
    }
    config.rate = number(o.rate, 0.01, 1000, config.rate);
    for (const QString& text : parser.values(o.request)) {
        const std::optional<QByteArray> r = requestBytes(text, &why);
        if (!r) usageError(why);
        config.request = *r;
    }
    const double fixedWeight = number(o.weight, -1e9, 1e9, 0);
    const QString programmeText = parser.value(o.program);
    const bool truck = parser.isSet(o.truck);
    const double truckWeight =
        truckWeightText ? numberArg(QStringLiteral("--truck"), *truckWeightText, 0, 1e9) : 24360;
    const double noise = number(o.noise, 0, 1e9, -1);
    const double settle = number(o.settle, 0, 3600, -1);
    const bool once = parser.isSet(o.once);
    const QString replayFile = parser.value(o.replay);
    config.replayRate = number(o.replayRate, 0, 1e9, config.replayRate);
    config.replayLoop = parser.isSet(o.replayLoop);
    const QString controlPath = parser.value(o.control);
    const bool useStdin = !parser.isSet(o.noStdin);
    config.reportHeard = parser.isSet(o.reportHeard);

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
