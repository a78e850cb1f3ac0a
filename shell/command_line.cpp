#include "shell/command_line.h"

#include "platform/program_identity.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace veltrane {

namespace {

const char* const kDescription =
    "Marlume Veltrane: reads a weighbridge indicator on a serial port, decides when the weight is\n"
    "stable and serves each stable weight to a CSV or database file, the weight log, the clipboard,\n"
    "a spoken announcement and the live feeds. It starts in the notification area; its settings are\n"
    "changed in its configuration window, under the access password.";
const char* const kDetails =
    "\nFiles: scale.mdb, config.mdb and veltrane.mdb in the program's folder; in the package that is\n"
    "/usr/lib/veltrane, whose files lead to /var/lib/veltrane and /usr/share/veltrane.\n"
    "Manual: veltrane(1). Guides: /usr/share/doc/veltrane/operator.md and integration.md.\n";

void print(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
}

}  // namespace

QString versionLine() {
    return QStringLiteral("veltrane " VELTRANE_VERSION_TEXT);
}

void printVersion() {
    // The version, then what a reader of a record needs to tell this build from another: the digest
    // over the program and the libraries it loaded, and those files.
    print(versionLine() + QLatin1Char('\n') + identityText(programIdentity()).section(QLatin1Char('\n'), 1));
}

std::optional<int> answerCommandLine(int argc, char** argv) {
    // A core application only: the answers need no display.
    const QCoreApplication probe(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    // Not addHelpOption(): its --help-all would list Qt's options, which this program does not document.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this text and end."));
    parser.addOption(help);
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and end."));
    parser.addOption(version);
    // Qt's own options are not known here: what is left of them after QApplication took its own is
    // refused by refuseLeftArguments.
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(help)) {
        print(parser.helpText() + QString::fromLatin1(kDetails));
        return 0;
    }
    if (parser.isSet(version)) {
        printVersion();
        return 0;
    }
    return std::nullopt;
}

int refuseLeftArguments(const QStringList& arguments) {
    if (arguments.size() <= 1) return 0;
    std::fprintf(stderr, "veltrane: unexpected argument '%s'\nTry 'veltrane --help'.\n",
                 qPrintable(arguments.at(1)));
    return 2;
}

}  // namespace veltrane
