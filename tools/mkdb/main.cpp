// veltrane-mkdb: makes scale.mdb, config.mdb and veltrane.mdb in a folder, each only when it is not
// there yet. Each file is built under a temporary name and renamed into place, so an interrupted run
// never leaves a half-made settings file behind.

#include "config/comports.h"
#include "config/schema.h"
#include "config/settings.h"
#include "platform/database.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

using namespace veltrane;

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kDescription =
    "Creates the database files of a Veltrane application folder:\n"
    "  scale.mdb     settings (table config with a default row), weight log, port devices; keyed\n"
    "  config.mdb    version database; keyed\n"
    "  veltrane.mdb  export database template; not keyed\n"
    "A file that already exists is never replaced or changed; the tool says so and goes on.\n"
    "FOLDER is created when missing. The default row's output folder is FOLDER itself.\n"
    "The options apply only to a scale.mdb made by this run.";
const char* const kHelpDetails =
    "Exit status: 0 done, 1 a database could not be made, 2 bad arguments or unwritable folder.\n";

void say(const QString& text) {
    std::fprintf(stdout, "%s\n", qPrintable(text));
}
void complain(const QString& text) {
    std::fprintf(stderr, "veltrane-mkdb: %s\n", qPrintable(text));
}

struct Arguments {
    QString folder;
    std::vector<std::pair<QString, QString>> sets;
    std::vector<std::pair<int, QString>> comports;
};

bool knownColumn(const QString& name) {
    for (const auto& column : configColumns())
        if (name.compare(QString::fromLatin1(column.name), Qt::CaseInsensitive) == 0) return true;
    return false;
}

// Splits NAME=VALUE; nothing when there is no name before the "=".
std::optional<std::pair<QString, QString>> nameAndValue(const QString& text) {
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq <= 0) return std::nullopt;
    return std::pair{text.left(eq).trimmed(), text.mid(eq + 1)};
}

QString setArgument(const QString& text, Arguments& out) {
    const auto pair = nameAndValue(text);
    if (!pair) return QStringLiteral("--set ") + text + QStringLiteral(": expected NAME=VALUE");
    const auto& [name, value] = *pair;
    if (!knownColumn(name)) return QStringLiteral("--set: table config has no column named '%1'").arg(name);
    out.sets.emplace_back(name, value);
    return {};
}

QString comportArgument(const QString& text, Arguments& out) {
    const auto pair = nameAndValue(text);
    if (!pair) return QStringLiteral("--comport ") + text + QStringLiteral(": expected NAME=VALUE");
    const auto& [name, value] = *pair;
    bool ok = false;
    const int port = name.toInt(&ok);
    if (!ok || port < 1 || port > 255)
        return QStringLiteral("--comport: '%1' is not a port number (1 to 255)").arg(name);
    if (value.trimmed().isEmpty()) return QStringLiteral("--comport %1: no device given").arg(name);
    out.comports.emplace_back(port, value.trimmed());
    return {};
}

// Returns an error text, empty when the arguments are good.
QString parse(const QStringList& args, Arguments& out, QString& help) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(kDescription));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this text."));
    parser.addOption(helpOption);
    // Each repeatable NAME=VALUE option and what takes its values apart.
    struct Repeated {
        QCommandLineOption option;
        QString (*take)(const QString&, Arguments&);
    };
    const Repeated repeated[] = {
        {QCommandLineOption(QStringLiteral("set"),
                            QStringLiteral("Set a column of the configuration row (name in any case; yes/no "
                                           "columns take on/off, yes/no, true/false or -1/0; empty VALUE is "
                                           "Null)."),
                            QStringLiteral("COLUMN=VALUE")),
         setArgument},
        {QCommandLineOption(QStringLiteral("comport"),
                            QStringLiteral("Serial port N uses DEVICE (e.g. --comport 1=/dev/ttyUSB0)."),
                            QStringLiteral("N=DEVICE")),
         comportArgument},
    };
    for (const Repeated& r : repeated) parser.addOption(r.option);
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("The application folder."));

    if (!parser.parse(args)) return parser.errorText();
    if (parser.isSet(helpOption)) {
        help = parser.helpText() + QLatin1Char('\n') + QLatin1String(kHelpDetails);
        return {};
    }
    for (const Repeated& r : repeated) {
        for (const QString& value : parser.values(r.option)) {
            QString error = r.take(value, out);
            if (!error.isEmpty()) return error;
        }
    }
    const QStringList folders = parser.positionalArguments();
    if (folders.size() > 1) return QStringLiteral("only one FOLDER may be given");
    if (folders.isEmpty() || folders.constFirst().isEmpty()) return QStringLiteral("no FOLDER given");
    out.folder = folders.constFirst();
    return {};
}

void applySettings(const QString& path, const Arguments& args) {
    if (!args.sets.empty()) {
        auto db = Database::open(path, QString::fromLatin1(kSettingsDatabaseConnect));
        auto row = db->openRecordSet(QStringLiteral("select * from config"));
        row->edit();
        for (const auto& [column, value] : args.sets)
            row->setField(column, value.isEmpty() ? QVariant() : QVariant(value));
        row->update();
    }
    for (const auto& [port, device] : args.comports) writeComportDevice(path, port, device);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Arguments args;
    QString help;
    const QString error = parse(QCoreApplication::arguments(), args, help);
    if (!help.isEmpty()) {
        std::fputs(qPrintable(help), stdout);
        return 0;
    }
    if (!error.isEmpty()) {
        complain(error);
        std::fputs("Try 'veltrane-mkdb --help'.\n", stderr);
        return kExitUsage;
    }

    QDir dir(QDir(args.folder).absolutePath());
    if (!dir.mkpath(QStringLiteral("."))) {
        complain(QStringLiteral("cannot create the folder %1").arg(dir.path()));
        return kExitUsage;
    }
    const QFileInfo folderInfo(dir.path());
    if (!folderInfo.isDir() || !folderInfo.isWritable()) {
        complain(QStringLiteral("cannot write into the folder %1").arg(dir.path()));
        return kExitUsage;
    }
    const QString folder = dir.path().endsWith(QLatin1Char('/')) ? dir.path() : dir.path() + QLatin1Char('/');

    struct File {
        const char* name;
        std::function<void(const QString&)> make;
    };
    const bool haveSettings = !args.sets.empty() || !args.comports.empty();
    const std::vector<File> files{
        {kSettingsDatabaseName, [&](const QString& path) { createSettingsDatabase(path, folder); }},
        {kVersionDatabaseName, [](const QString& path) { createVersionDatabase(path); }},
        {kExportDatabaseName, [](const QString& path) { createExportTemplate(path); }},
    };

    int status = 0;
    for (const auto& file : files) {
        const QString name = QString::fromLatin1(file.name);
        const QString target = folder + name;
        if (QFileInfo::exists(target)) {
            say(target + QStringLiteral(": exists, left unchanged"));
            if (name == QLatin1String(kSettingsDatabaseName) && haveSettings)
                say(QStringLiteral(
                    "  (--set and --comport apply only to a new scale.mdb; they were not applied)"));
            continue;
        }
        const QString temporary = folder + QLatin1Char('.') + name +
                                  QStringLiteral(".part-%1").arg(QCoreApplication::applicationPid());
        QFile::remove(temporary);
        try {
            file.make(temporary);
        } catch (const DbError& e) {
            QFile::remove(temporary);
            complain(e.description());
            status = kExitFailed;
            continue;
        }
        if (name == QLatin1String(kSettingsDatabaseName)) {
            try {
                applySettings(temporary, args);
            } catch (const DbError& e) {
                QFile::remove(temporary);
                complain(e.description().replace(temporary, target));
                return kExitUsage;  // a --set value that does not fit its column
            }
        }
        // rename never replaces: a file that appeared meanwhile stays as it is.
        if (!QFile::rename(temporary, target)) {
            QFile::remove(temporary);
            complain(target + QStringLiteral(": could not be put in place (%1)")
                                  .arg(QFileInfo::exists(target) ? QStringLiteral("it appeared meanwhile")
                                                                 : QStringLiteral("rename failed")));
            status = kExitFailed;
            continue;
        }
        say(target + QStringLiteral(": created"));
    }
    return status;
}
