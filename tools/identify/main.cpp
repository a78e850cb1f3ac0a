// veltrane-identify: finds the line settings and record layout of an unknown indicator on a serial
// device in seconds, for installers working over SSH or without a desktop. Progress goes to standard
// error, the result to standard output; scripts read the --json form.

#include "config/comports.h"
#include "config/settings.h"
#include "platform/qt_serial_port.h"
#include "wizard/quick_search.h"
#include "wizard/quick_store.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <cstdio>

using namespace veltrane;

namespace {

constexpr int kExitFound = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitUsage = 2;
constexpr int kDefaultTimeoutS = 30;

const char* const kHelpDetails =
    "Reads the device at 8 data bits, no parity, 1 stop bit at each baud rate from 300 to 115200 (the\n"
    "most common first), for only as long as that rate needs, and confirms the best candidate at its\n"
    "exact setting with two records. With --weight the records must hold that weight.\n"
    "With --probe a silent line is asked with read-only weight requests only (ENQ, $, ?, W, SI, bare,\n"
    "with CR and with CR LF); never a zero, tare, print or setup command.\n"
    "Exit status: 0 found, 1 not found, 2 bad arguments or a device that cannot be used.\n";

void say(const QString& text) {
    std::fprintf(stderr, "veltrane-identify: %s\n", text.toLocal8Bit().constData());
}

[[noreturn]] void fail(const QString& text) {
    say(text);
    std::exit(kExitUsage);
}

// The indicator's line on the project's own serial port, as Veltrane reads it.
class PortLine final : public QuickLine {
public:
    explicit PortLine(const QString& device) : m_port([device](int) { return device; }) {
        m_port.setPortNumber(1);
        QObject::connect(&m_port, &SerialPort::byteReceived, [this](char c) { m_bytes.append(c); });
        QObject::connect(&m_port, &SerialPort::deviceLost, [this](const QString& why) {
            m_lost = true;
            m_error = why;
        });
        m_clock.start();
    }
    bool open(const QString& settings) override {
        m_port.setSettingsText(settings);
        const bool opened = m_port.open();
        if (!opened) m_error = m_port.lastError();
        m_bytes.clear();
        return opened;
    }
    void close() override { m_port.close(); }
    QString error() const override { return m_error; }
    QByteArray take() override { return std::exchange(m_bytes, {}); }
    void write(const QByteArray& bytes) override { m_port.write(bytes); }
    bool wait(int ms) override {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
        return !m_lost;
    }
    qint64 elapsedMs() const override { return m_clock.elapsed(); }
    void trying(const QString& what) override { say(what); }

private:
    QtSerialPort m_port;
    QByteArray m_bytes;
    QElapsedTimer m_clock;
    QString m_error;
    bool m_lost = false;
};

QByteArray jsonString(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray jsonResult(const QuickResult& r, bool withWeight, double seconds) {
    const QByteArray secs = QByteArray::number(seconds, 'f', 1);
    if (!r.found)
        return "{\"found\": false, \"seconds\": " + secs + ", \"seen\": " + jsonString(escapedBytes(r.seen)) +
               "}";
    const RecordFinding& f = r.finding;
    const bool placed = withWeight && f.match;
    const auto number = [&](int n) { return placed ? QByteArray::number(n) : QByteArray("null"); };
    const auto flag = [](bool on) { return on ? QByteArray("true") : QByteArray("false"); };
    return "{\"found\": true, \"settings\": " + jsonString(r.settings) +
           ", \"delimiter\": " + jsonString(f.delimiterName) + ", \"autosense\": " + flag(f.autosense) +
           ", \"weightstart\": " + number(f.match ? f.match->start : 0) +
           ", \"weightlength\": " + number(f.weightLength) +
           ", \"reverse\": " + flag(f.match && f.match->reversed) +
           ", \"record\": " + jsonString(escapedBytes(f.record)) + ", \"request\": " +
           (r.request.isEmpty() ? QByteArray("null") : jsonString(escapedBytes(r.request))) +
           ", \"seconds\": " + secs + "}";
}

QByteArray textResult(const QuickResult& r, double seconds) {
    if (!r.found)
        return "not found after " + QByteArray::number(seconds, 'f', 1) +
               " s; seen at the best setting: " + escapedBytes(r.seen).toUtf8() + "\n";
    const RecordFinding& f = r.finding;
    QByteArray out = "settings " + r.settings.toLatin1() + "\ndelimiter " + f.delimiterName.toLatin1() +
                     "\nrecord " + escapedBytes(f.record).toUtf8() + "\n";
    if (f.match)
        out += "weight at " + QByteArray::number(f.match->start) + ", length " +
               QByteArray::number(f.weightLength) + (f.match->reversed ? ", reversed" : "") + "\n";
    out += QByteArray("autosense ") + (f.autosense ? "reads it" : "does not read it") + "\n";
    if (!r.request.isEmpty()) out += "request " + escapedBytes(r.request).toUtf8() + "\n";
    return out + "found in " + QByteArray::number(seconds, 'f', 1) + " s\n";
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veltrane-identify"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Finds the serial settings and record layout of a weighing indicator.\n\n") +
        QLatin1String(kHelpDetails));
    parser.addHelpOption();
    const QCommandLineOption device(QStringLiteral("device"), QStringLiteral("The serial device."),
                                    QStringLiteral("PATH"));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("The device of port N in the application folder's port mapping."),
        QStringLiteral("N"));
    const QCommandLineOption weight(QStringLiteral("weight"),
                                    QStringLiteral("The weight the indicator shows, as it displays it."),
                                    QStringLiteral("TEXT"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("The result as one JSON object."));
    const QCommandLineOption probe(QStringLiteral("probe"),
                                   QStringLiteral("Ask a silent line with read-only weight requests."));
    const QCommandLineOption store(
        QStringLiteral("store"),
        QStringLiteral("Store the result in APPFOLDER's settings, as the wizard does."),
        QStringLiteral("APPFOLDER"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Give up after SECONDS (default 30)."),
                                     QStringLiteral("SECONDS"));
    parser.addOptions({device, port, weight, json, probe, store, timeout});
    if (!parser.parse(QCoreApplication::arguments())) fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    if (parser.isSet(device) == parser.isSet(port))
        fail(QStringLiteral("give either --device PATH or --port N"));

    bool ok = true;
    int timeoutS = kDefaultTimeoutS;
    if (parser.isSet(timeout)) {
        timeoutS = parser.value(timeout).toInt(&ok);
        if (!ok || timeoutS <= 0) fail(QStringLiteral("--timeout needs a number of seconds above 0"));
    }
    const QString appFolder = parser.value(store);
    QString path = parser.value(device);
    int portNumber = 1;
    if (parser.isSet(port)) {
        portNumber = parser.value(port).toInt(&ok);
        if (!ok || portNumber <= 0) fail(QStringLiteral("--port needs a port number above 0"));
        // The mapping of the folder stored into, else of the installation this program belongs to.
        const QString mapping = appFolder.isEmpty() ? QCoreApplication::applicationDirPath() : appFolder;
        path =
            settingsDeviceResolver(QDir(mapping).filePath(QLatin1String(kSettingsDatabaseName)))(portNumber);
    }
    if (!QFileInfo::exists(path)) fail(QStringLiteral("%1: no such device").arg(path));

    PortLine line(path);
    // A device that cannot be used is told before anything is tried: it is no indicator's silence. A
    // port Veltrane (or anything else) holds is refused by the driver's exclusive lock.
    if (!line.open(QStringLiteral("9600,n,8,1"))) {
        const QString why = line.error();
        if (why.contains(QLatin1String("Permission denied:"))) fail(why);
        fail(QStringLiteral("%1 is held by another program, or cannot be opened: %2").arg(path, why));
    }
    line.close();

    QElapsedTimer clock;
    clock.start();
    const QByteArray sample = parser.value(weight).trimmed().toLatin1();
    const QuickResult result = runQuickSearch(line, sample, parser.isSet(probe), timeoutS * 1000);
    if (result.stopped && !result.error.isEmpty()) fail(result.error);
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    const QByteArray out = parser.isSet(json) ? jsonResult(result, !sample.isEmpty(), seconds) + "\n"
                                              : textResult(result, seconds);
    std::fputs(out.constData(), stdout);
    if (result.found && !appFolder.isEmpty()) {
        QString why;
        if (!storeQuickResult(QDir(appFolder).filePath(QLatin1String(kSettingsDatabaseName)), portNumber,
                              result, &why))
            fail(QStringLiteral("could not store the settings: %1").arg(why));
        say(QStringLiteral("stored in %1").arg(appFolder));
    }
    return result.found ? kExitFound : kExitNotFound;
}
