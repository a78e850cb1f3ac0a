// veltrane-collect: every site's weighments from the broker into PostgreSQL, exactly once.

#include "collect/collect_settings.h"
#include "collect/collector.h"
#include "collect/report.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <QSocketNotifier>

#include <unistd.h>
#include <csignal>
#include <cstdio>

using namespace veltrane;

namespace {

int stopPipe[2] = {-1, -1};

void stopRequested(int) {
    const char byte = 1;
    (void)!::write(stopPipe[1], &byte, 1);
}

int run(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veltrane-collect"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Stores the weighments of every Veltrane site on an MQTT broker in PostgreSQL."));
    parser.addHelpOption();
    const QCommandLineOption config(QStringLiteral("config"), QStringLiteral("The settings file."),
                                    QStringLiteral("FILE"), QStringLiteral("/etc/veltrane/collect.conf"));
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Print the sites, their gaps and chain breaks, and exit "
                                                   "1 when any is unexplained."));
    parser.addOption(config);
    parser.addOption(report);
    parser.process(app);
    QTextStream err(stderr);
    if (!parser.positionalArguments().isEmpty()) {
        err << "veltrane-collect: unexpected argument " << parser.positionalArguments().first() << Qt::endl;
        return 2;
    }
    auto settings = readCollectSettings(parser.value(config));
    if (auto* error = std::get_if<QString>(&settings)) {
        err << "veltrane-collect: " << *error << Qt::endl;
        return 2;
    }
    const CollectSettings& s = std::get<CollectSettings>(settings);
    std::unique_ptr<Store> store;
    try {
        store = std::make_unique<Store>(s.database);
    } catch (const StoreError& e) {
        err << "veltrane-collect: " << e.what() << Qt::endl;
        return 3;
    }
    if (parser.isSet(report)) {
        QTextStream out(stdout);
        try {
            return writeReport(*store, out) ? 0 : 1;
        } catch (const StoreError& e) {
            err << "veltrane-collect: " << e.what() << Qt::endl;
            return 3;
        }
    }
    // A service manager's stop: the event loop ends, and the batch in hand is written before the end.
    if (::pipe(stopPipe) != 0) return 3;
    QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    for (const int sig : {SIGTERM, SIGINT}) std::signal(sig, stopRequested);
    Collector collector(s, std::move(store));
    collector.start();
    return QCoreApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (...) {
        std::fputs("veltrane-collect: unexpected failure\n", stderr);
        return 3;
    }
}
