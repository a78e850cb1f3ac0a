#pragma once
// A temporary application folder with a real settings database whose config row is a quiet,
// position-decoding set-up, an output folder that holds a file, and the program-wide settings with a
// main window in memory.

#include "config/schema.h"
#include "platform/database.h"
#include "tests/support/fake_view.h"
#include "tests/support/fakes.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

namespace veltrane::test {

class ConfigFixture : public ::testing::Test {
protected:
    using Columns = std::initializer_list<std::pair<const char*, QVariant>>;

    void SetUp() override {
        createSettingsDatabase(dbPath(), outFolder());
        QDir().mkpath(outFolder());
        ASSERT_TRUE(writeFile(outFolder() + QStringLiteral("keep.txt")));
        // clang-format off
        set({{"outputFilelocation", outFolder()}, {"outputFiletype", QStringLiteral("CSV file with headings")},
             {"simpinterface", 0}, {"usevalue", -1}, {"delimiter", QStringLiteral("CR")}, {"weightstart", 1},
             {"weightend", 10}, {"port", 1}, {"baud", 9600}, {"databits", QStringLiteral("8")},
             {"stopbits", QStringLiteral("1")}, {"parity", QStringLiteral("n")}, {"throwstring", 0},
             {"outstring", QStringLiteral("$")}, {"minstablereadings", 3}, {"StabilityCheckAccuracy", 0},
             {"MinimumAutosaveWeight", 250.5}, {"discardweightlessthan", 100}, {"iNSERTBEFORE", 2},
             {"FORWEIGHBRIDGE", -1}, {"pw", QStringLiteral("pavix")}, {"ApplicationName", QStringLiteral("x")}});
        // clang-format on
    }

    QString dbPath() const { return app.file(QStringLiteral("scale.mdb")); }
    QString outFolder() const { return app.path() + QStringLiteral("out/"); }

    // Keyed opens are slow on purpose (key derivation): one connection of the test's own serves its reads
    // and writes.
    Database& db() {
        if (!m_db) m_db = Database::open(dbPath(), QStringLiteral(";pwd=qd584"));
        return *m_db;
    }
    void set(Columns columns) {
        auto rs = db().openRecordSet(QStringLiteral("select * from config"));
        rs->edit();
        for (const auto& [name, value] : columns) rs->setField(QString::fromLatin1(name), value);
        rs->update();
    }
    // Past the record set's checks, as another program could write the file.
    void setRaw(Columns columns) {
        for (const auto& [name, value] : columns)
            db().execute(QStringLiteral("update config set %1 = ?").arg(QString::fromLatin1(name)), {value});
    }
    // Read back from the file.
    QVariant stored(const char* column) {
        return db().openRecordSet(QStringLiteral("select * from config"))->field(QString::fromLatin1(column));
    }

    TempFolder app;
    FakeServices fake{app.path()};
    std::unique_ptr<Database> m_db;
    Settings settings;
    FakeView view;
};

}  // namespace veltrane::test
