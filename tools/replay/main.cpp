// veltrane-replay: runs a recorded indicator stream through the real configuration loader, decoder and
// weighment cycle with a virtual clock, and prints what the program would do. Nothing is written to
// output files, the weight log, the clipboard or a sound device. Other tools parse its output: keep
// the line formats exactly as they are.

#include "config/schema.h"
#include "config/settings.h"
#include "core/decoder.h"
#include "core/inert_services.h"
#include "core/weighing_core.h"
#include "platform/database.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

using namespace veltrane;

namespace {

constexpr int kExitUsage = 2;

// Shown after the options and arguments that --help lists.
const char* const kHelpDetails =
    "Standard output, one TAB-separated line per event:\n"
    "  record <last record> <weight box>    served <weight>    rearmed    refused    say <file name>\n"
    "Loader messages go to standard error as 'message<TAB>text'.\n"
    "Exit status: 0 done, 2 bad arguments or unreadable input.\n";

QByteArray escaped(const QByteArray& text) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    out += "\\x";
                    out += hex[c >> 4];
                    out += hex[c & 0x0F];
                } else {
                    out += ch;
                }
        }
    }
    return out;
}
QByteArray escaped(const QString& text) {
    return escaped(text.toUtf8());
}

void line(std::FILE* to, std::initializer_list<QByteArray> fields) {
    QByteArray out;
    bool first = true;
    for (const QByteArray& f : fields) {
        if (!first) out += '\t';
        out += f;
        first = false;
    }
    out += '\n';
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), to);
}

[[noreturn]] void usage(const QString& error) {
    std::fprintf(stderr, "veltrane-replay: %s\nTry 'veltrane-replay --help'.\n", qPrintable(error));
    std::exit(kExitUsage);
}

// --- the outside world as the replay sees it: a virtual clock and nothing that acts on anything ---

class VirtualClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::fromMSecsSinceEpoch(m_ms, Qt::UTC); }
    void setMs(qint64 ms) { m_ms = ms; }

private:
    qint64 m_ms = 0;
};

class StderrPrompts final : public Prompts {
public:
    void message(const QString& text, MessageIcon, const QString&) override {
        line(stderr, {QByteArrayLiteral("message"), escaped(text)});
    }
    bool askYesNo(const QString& text, const QString&) override {
        line(stderr, {QByteArrayLiteral("message"), escaped(text)});
        return false;
    }
    QString input(const QString&, const QString&, const QString&) override { return {}; }
    void beep() override {}
    void setPointer(Pointer) override {}
};

using inert::NoClipboard;
using inert::NoEvents;
using inert::NoFeed;
using inert::NoPort;
using inert::NoShell;
using inert::NoSound;
using inert::NoView;
using InertTimers = inert::Timers;

// Prints the events; the n-th record moves the clock to n x interval before it is weighed.
class Printer final : public CoreObserver {
public:
    Printer(VirtualClock& clock, qint64 intervalMs) : m_clock(clock), m_interval(intervalMs) {}
    void recordCompleted(const QByteArray& record, const QString& weightText) override {
        ++m_records;
        m_clock.setMs(m_records * m_interval);
        line(stdout, {QByteArrayLiteral("record"), escaped(record), escaped(weightText)});
    }
    void served(const QString& w) override { line(stdout, {QByteArrayLiteral("served"), escaped(w)}); }
    void rearmed() override { line(stdout, {QByteArrayLiteral("rearmed")}); }
    void refused() override { line(stdout, {QByteArrayLiteral("refused")}); }
    void say(const QString& name) override { line(stdout, {QByteArrayLiteral("say"), escaped(name)}); }

private:
    VirtualClock& m_clock;
    qint64 m_interval;
    qint64 m_records = 0;
};

// --- arguments and the settings database ---

struct Override {
    QString column;
    std::optional<QString> value;  // nothing: Null
};

struct Arguments {
    QString settings;
    std::vector<Override> overrides;
    qint64 intervalMs = 100;
    QString input;  // empty or "-": standard input
};

Arguments parse(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs the raw bytes of FILE (or standard input) through the configuration loader, the decoder and\n"
        "the weighment cycle with a virtual clock; writes nothing anywhere."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this text."));
    const QCommandLineOption settings(
        QStringLiteral("settings"),
        QStringLiteral("Settings database (scale.mdb) to start from; default: a new default one."),
        QStringLiteral("DB"));
    const QCommandLineOption set(QStringLiteral("set"),
                                 QStringLiteral("Override a column of table config (name in any case; yes/no "
                                                "columns take 1, 0, -1, true or false)."),
                                 QStringLiteral("COLUMN=VALUE"));
    const QCommandLineOption null(QStringLiteral("null"),
                                  QStringLiteral("Make a column of table config Null."),
                                  QStringLiteral("COLUMN"));
    const QCommandLineOption interval(
        QStringLiteral("interval"),
        QStringLiteral("The n-th record is processed at n x MS milliseconds (default 100)."),
        QStringLiteral("MS"));
    parser.addOptions({help, settings, set, null, interval});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Recorded stream; '-' or none: standard input."),
                                 QStringLiteral("[FILE]"));
    if (!parser.parse(args)) usage(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText() + QLatin1Char('\n') + QLatin1String(kHelpDetails)), stdout);
        std::exit(0);
    }

    Arguments out;
    out.settings = parser.value(settings);
    // --set and --null apply in the order given, so a later one for the same column wins.
    const QStringList sets = parser.values(set);
    const QStringList nulls = parser.values(null);
    qsizetype nextSet = 0;
    qsizetype nextNull = 0;
    for (const QString& name : parser.optionNames()) {
        if (name == set.names().constFirst()) {
            const QString& v = sets[nextSet++];
            const qsizetype eq = v.indexOf(QLatin1Char('='));
            if (eq <= 0) usage(QStringLiteral("--set %1: expected COLUMN=VALUE").arg(v));
            out.overrides.push_back({v.left(eq).trimmed(), v.mid(eq + 1)});
        } else if (name == null.names().constFirst()) {
            const QString v = nulls[nextNull++].trimmed();
            if (v.isEmpty()) usage(QStringLiteral("--null needs a column name"));
            out.overrides.push_back({v, std::nullopt});
        }
    }
    for (const QString& v : parser.values(interval)) {
        bool ok = false;
        out.intervalMs = v.toLongLong(&ok);
        if (!ok || out.intervalMs < 0)
            usage(QStringLiteral("--interval %1: expected milliseconds (0 or more)").arg(v));
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) usage(QStringLiteral("only one FILE may be given"));
    if (!files.isEmpty()) out.input = files.constFirst();
    return out;
}

QByteArray readInput(const QString& name) {
    QFile file;
    bool ok = false;
    if (name.isEmpty() || name == QLatin1String("-")) {
        ok = file.open(stdin, QIODevice::ReadOnly);
    } else {
        file.setFileName(name);
        ok = !QFileInfo(name).isDir() && file.open(QIODevice::ReadOnly);
    }
    if (!ok)
        usage(QStringLiteral("cannot read %1").arg(name.isEmpty() ? QStringLiteral("standard input") : name));
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        usage(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()));
    return data;
}

bool isYesNoColumn(const QString& column) {
    for (const auto& c : configColumns())
        if (column.compare(QString::fromLatin1(c.name), Qt::CaseInsensitive) == 0)
            return QLatin1String(c.type) == QLatin1String("BOOLEAN");
    return false;
}

QVariant yesNo(const QString& column, const QString& text) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("1") || t == QLatin1String("-1") || t == QLatin1String("true")) return -1;
    if (t == QLatin1String("0") || t == QLatin1String("false")) return 0;
    usage(QStringLiteral("--set %1=%2: a yes/no column takes 1, 0, -1, true or false").arg(column, text));
}

void prepareSettings(const Arguments& args, const QString& folder) {
    const QString path = folder + QLatin1String(kSettingsDatabaseName);
    const QString connect = QLatin1String(kSettingsDatabaseConnect);
    try {
        if (args.settings.isEmpty()) {
            createSettingsDatabase(path, folder);
        } else {
            if (!QFileInfo(args.settings).isFile())
                usage(QStringLiteral("cannot read %1").arg(args.settings));
            Database::open(args.settings, connect)->openRecordSet(QStringLiteral("select * from config"));
            if (!QFile::copy(args.settings, path)) usage(QStringLiteral("cannot read %1").arg(args.settings));
        }
        if (args.overrides.empty()) return;
        auto db = Database::open(path, connect);
        auto row = db->openRecordSet(QStringLiteral("select * from config"));
        if (row->isEof()) usage(QStringLiteral("table config of %1 has no row").arg(args.settings));
        for (const Override& o : args.overrides) {
            if (!row->hasField(o.column))
                usage(QStringLiteral("table config has no column named '%1'").arg(o.column));
            row->edit();
            if (!o.value)
                row->setField(o.column, QVariant());
            else if (isYesNoColumn(o.column))
                row->setField(o.column, yesNo(o.column, *o.value));
            else
                row->setField(o.column,
                              o.value->isNull() ? QStringLiteral("") : *o.value);  // "--set X=" is empty text
            row->update();
        }
    } catch (const DbError& e) {
        usage(args.settings.isEmpty() ? e.description()
                                      : args.settings + QStringLiteral(": ") + e.description());
    }
}

// The word files and the export template of the program's own folder, so that the loader and the
// announcement find what an installation beside this program would have.
void linkProgramFiles(const QString& folder) {
    const QDir program(QCoreApplication::applicationDirPath());
    QStringList names = program.entryList({QStringLiteral("*.wav")}, QDir::Files);
    names << QLatin1String(kExportDatabaseName);
    for (const QString& name : names) {
        if (program.exists(name)) QFile::link(program.absoluteFilePath(name), folder + name);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Arguments args = parse(QCoreApplication::arguments());
    const QByteArray input = readInput(args.input);

    QTemporaryDir temp(QDir::tempPath() + QStringLiteral("/veltrane-replay-XXXXXX"));
    if (!temp.isValid()) usage(QStringLiteral("cannot make a temporary folder"));
    const QString folder = temp.path() + QLatin1Char('/');
    prepareSettings(args, folder);
    linkProgramFiles(folder);

    VirtualClock clock;
    StderrPrompts prompts;
    NoEvents events;
    InertTimers timers;
    NoSound sound;
    NoShell shell;
    NoClipboard clipboard;
    NoPort port;
    NoFeed feed;
    PosixFiles files;
    Services services{clock, prompts, events, timers, sound, shell, clipboard, port, feed, files, folder};
    Settings settings;
    NoView view;
    WeighingCore core(services, settings, view);
    core.setDryRun(true);
    Printer printer(clock, args.intervalMs);
    core.setObserver(&printer);

    if (core.loadConfiguration() == LoadResult::EndProgram)
        usage(QStringLiteral("the configuration ends the program (see the messages above)"));
    // Time 0 is also the last record time of the print-button rule.
    clock.setMs(0);
    core.setLastRecordTime(clock.now());

    for (const char byte : input) core.receiveByte(byte);
    std::fflush(stdout);
    return 0;
}
