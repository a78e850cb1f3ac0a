// quorlink: a sample client of Veltrane's live weight feed.
#include "frm_client.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <optional>

namespace {

// --help and --version are answered before any window, so they need no display.
std::optional<int> answerCommandLine(int argc, char** argv) {
    const QCoreApplication probe(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A sample client of Veltrane's live weight feed: reads the item weightdata of the topic\n"
        "veltrane from the feed's socket, $XDG_RUNTIME_DIR/veltrane.dde (or /tmp/veltrane-UID/veltrane.dde\n"
        "without a runtime folder), by hand or five times a second. Manual: quorlink(1)."));
    // Not addHelpOption(): its --help-all would list Qt's options, which this program does not document.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this text and end."));
    parser.addOption(help);
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and end."));
    parser.addOption(version);
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::fputs("quorlink " QUORLINK_VERSION_TEXT "\n", stdout);
        return 0;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> answered = answerCommandLine(argc, argv)) return *answered;
    QApplication app(argc, argv);
    // What is left after Qt took its own options is nothing quorlink takes.
    if (QCoreApplication::arguments().size() > 1) {
        std::fprintf(stderr, "quorlink: unexpected argument '%s'\nTry 'quorlink --help'.\n",
                     qPrintable(QCoreApplication::arguments().at(1)));
        return 2;
    }
    quorlink::FrmClient window;
    window.show();
    return app.exec();
}
