// veltrane-verify: recomputes the digest chains of an application folder's weight log and event log
// and reports what it finds: the rows checked, each gap with the deletion that explains it (or none),
// each row or event whose digest does not match, and each saved change of a setting that alters
// decoding.

#include "config/chain_check.h"
#include "config/settings.h"
#include "platform/database.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

#include <cstdio>

using namespace veltrane;

namespace {

constexpr int kExitNotExplained = 1;
constexpr int kExitUnreadable = 2;

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veltrane-verify"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Checks the weight log and the event log of a Veltrane application folder (its scale.mdb).\n"
        "Exit status: 0 everything is explained, 1 something is not, 2 the folder or the file cannot "
        "be read."));
    parser.addHelpOption();
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("The report as one JSON object."));
    parser.addOption(json);
    parser.addPositionalArgument(QStringLiteral("APPFOLDER"),
                                 QStringLiteral("The folder that holds scale.mdb."));
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "veltrane-verify: give one application folder (see --help)\n");
        return kExitUnreadable;
    }
    const QString path =
        QDir(parser.positionalArguments().front()).filePath(QLatin1String(kSettingsDatabaseName));
    ChainReport report;
    try {
        if (!QFileInfo(path).isReadable())
            throw DbError((path + QStringLiteral(": cannot be read")).toStdString());
        auto db = Database::open(path, QString::fromLatin1(kSettingsDatabaseConnect));
        report = checkChains(*db);
    } catch (const DbError& e) {
        std::fprintf(stderr, "veltrane-verify: %s\n", qPrintable(e.description()));
        return kExitUnreadable;
    }
    const QByteArray out = parser.isSet(json)
                               ? QJsonDocument(report.json()).toJson(QJsonDocument::Compact) + '\n'
                               : report.text().toUtf8();
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    return report.explained() ? 0 : kExitNotExplained;
}
