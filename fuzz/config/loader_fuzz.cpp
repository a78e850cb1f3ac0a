// A config row of random values (Null, texts in number columns, huge and negative numbers, empty and
// overlong texts) written into a real scale.mdb, then the whole loader over it. It must end with a
// result, not a crash, and what it loaded must stay within what the rest of the program assumes.
#include "config/loader.h"
#include "config/schema.h"
#include "platform/database.h"
#include "tests/support/fakes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

using namespace veltrane;
using namespace veltrane::test;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

struct NullView final : LoaderView {
    bool portIsOpen() override { return false; }
    void closePortForReload() override {}
    void setPortSettingsText(const QString&) override {}
    void setPortToolTip(const QString&) override {}
    void setPortNumberText(const QString&) override {}
    void setDdeTopic(const QString&) override {}
};

// One application folder for the run. Each input starts from the default row, put back from a copy
// through a connection kept open: opening a keyed file costs its key derivation, and the loader's own
// opening is the one that counts.
struct Installation {
    Installation() {
        QDir().mkpath(folder.file(QStringLiteral("out")));
        QFile keep(folder.file(QStringLiteral("out/keep.txt")));
        keep.open(QIODevice::WriteOnly);
        createSettingsDatabase(settingsPath(), folder.file(QStringLiteral("out/")));
        createExportTemplate(folder.file(QStringLiteral("veltrane.mdb")));
        db = Database::open(settingsPath(), QString::fromLatin1(kSettingsDatabaseConnect));
        columns = db->openRecordSet(QStringLiteral("select * from config"))->fieldNames();
        db->execute(QStringLiteral("create table fuzz_default_config as select * from config"));
    }
    void restore() {
        db->execute(QStringLiteral("delete from config"));
        db->execute(QStringLiteral("insert into config select * from fuzz_default_config"));
    }
    QString settingsPath() const { return folder.file(QString::fromLatin1(kSettingsDatabaseName)); }
    TempFolder folder;
    std::unique_ptr<Database> db;
    QStringList columns;
};

QVariant randomValue(FuzzedDataProvider& in, const QString& column, const QString& folder) {
    switch (in.ConsumeIntegralInRange(0, 9)) {
        case 0:
            return QVariant();  // Null
        case 1:
            return QString();
        case 2:
            return QString(in.ConsumeIntegralInRange(256, 70000),
                           QLatin1Char(in.ConsumeIntegralInRange(32, 126)));
        case 3:
            return QVariant::fromValue(static_cast<qlonglong>(in.ConsumeIntegral<std::int64_t>()));
        case 4:
            return in.ConsumeFloatingPoint<double>();
        case 5:
            return in.PickValueInArray(
                {std::numeric_limits<double>::max(), -1e300, 1e-300, 65536.0, -32769.0, 1e10});
        case 6:
            return in.PickValueInArray({QStringLiteral("yes"), QStringLiteral("no"), QStringLiteral("CR"),
                                        QStringLiteral("LF"), QStringLiteral("CSV"), QStringLiteral("ACCESS"),
                                        QStringLiteral("-1"), QStringLiteral("1e400"),
                                        QStringLiteral("12abc")});
        default: {
            const QString text = QString::fromUtf8(in.ConsumeRandomLengthString(300));
            // Paths from the configuration stay inside this run's folder: the loader may make files there.
            if (column.compare(QLatin1String("outputFilelocation"), Qt::CaseInsensitive) == 0)
                return folder + QString(text).remove(QLatin1Char('/')).remove(QLatin1String(".."));
            return text;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int argc = 1;
    static char name[] = "loader_fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static Installation in;

    FuzzedDataProvider input(data, size);
    in.restore();
    const int changes = input.ConsumeIntegralInRange(1, 12);
    for (int i = 0; i < changes && input.remaining_bytes() > 0; ++i) {
        const QString column = in.columns.at(input.ConsumeIntegralInRange<int>(0, in.columns.size() - 1));
        const QVariant value = randomValue(input, column, in.folder.path());
        in.db->execute(QStringLiteral("update config set \"%1\" = ?").arg(column), {value});
    }

    FakeServices fakes(in.folder.path());
    for (int i = 0; i < 8; ++i) {
        fakes.prompts.yesNoAnswers.push_back(input.ConsumeBool());
        fakes.prompts.inputAnswers.push_back(QString::fromUtf8(input.ConsumeRandomLengthString(20)));
    }
    Settings settings;
    NullView view;
    ConfigLoader loader(settings, fakes.services, view);
    if (loader.load() == LoadResult::Completed) {
        check(settings.outputFolder.isEmpty() || settings.outputFolder.endsWith(QLatin1Char('/')));
    }
    return 0;
}
