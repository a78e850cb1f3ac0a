// "Save" of the configuration window against a real settings database file: the checks and where they
// stop, what is applied at once, and the row read back from the file after each save.

#include "config/config_save.h"
#include "config/chain_check.h"
#include "config/schema.h"
#include "core/port_control.h"
#include "tests/config_window/config_fixture.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

class SaveTest : public ConfigFixture {
protected:
    void SetUp() override {
        ConfigFixture::SetUp();
        source = std::make_unique<ConfigRecordSource>(dbPath());
        ASSERT_TRUE(source->read(v));
    }

    SaveOutcome save() {
        fake.prompts.log.clear();
        ConfigSave saver(*source, settings, fake.services, port);
        return saver.save(v);
    }

    std::unique_ptr<ConfigRecordSource> source;
    ConfigFormValues v;
    PortControl port{fake.services, view, {}};
};

const QString kBeep = QStringLiteral("beep");
QString msg(const char* text) {
    return QStringLiteral("message: ") + QString::fromUtf8(text);
}

TEST_F(SaveTest, BothDecodingMethodsUntickedDefaultsToAutosense) {
    v.chkFields[9] = false;
    ASSERT_EQ(save(), SaveOutcome::Saved);
    EXPECT_EQ(fake.prompts.log.mid(0, 2),
              QStringList({kBeep, msg("You need to select one interface method (Manual/auto-sense)! Will "
                                      "default to auto-sense..")}));
    EXPECT_TRUE(v.chkFields[12]);
    EXPECT_EQ(stored("simpinterface").toInt(), -1);
    EXPECT_EQ(stored("usevalue").toInt(), 0);
    EXPECT_TRUE(settings.simpinterface);
    EXPECT_FALSE(settings.usevalue);
}

TEST_F(SaveTest, PasswordChangesOnlyWhenTypedTwice) {
    v.txtFields[0] = QStringLiteral("newpw");
    v.Text6 = QStringLiteral("7");
    ASSERT_EQ(save(), SaveOutcome::Saved);
    EXPECT_EQ(fake.prompts.log.mid(0, 2),
              QStringList({kBeep, msg("Passwords do not match!!! Password will not be changed!!")}));
    EXPECT_EQ(stored("pw").toString(), QStringLiteral("pavix"));
    EXPECT_EQ(stored("minstablereadings").toInt(), 7);

    v.txtFields[2] = QStringLiteral("newpw");
    ASSERT_EQ(save(), SaveOutcome::Saved);
    EXPECT_FALSE(fake.prompts.log.contains(kBeep));
    EXPECT_EQ(stored("pw").toString(), QStringLiteral("newpw"));
}

TEST_F(SaveTest, SaveIsRecordedWithOldAndNewValuesButNeverThePassword) {
    v.txtFields[0] = v.txtFields[2] = QStringLiteral("newpw");
    v.Text2 = QStringLiteral("3");
    ASSERT_EQ(save(), SaveOutcome::Saved);
    ASSERT_EQ(save(), SaveOutcome::Saved);  // nothing changed: nothing recorded
    auto db = Database::open(dbPath(), QStringLiteral(";pwd=qd584"));
    auto events = db->openRecordSet(QStringLiteral("select * from eventlog where kind = 'settings'"));
    ASSERT_EQ(events->recordCount(), 1);
    const QString detail = events->field(QStringLiteral("detail")).toString();
    EXPECT_TRUE(detail.contains(QStringLiteral(R"({"column":"pw","new":"changed","old":"changed"})")))
        << qPrintable(detail);
    EXPECT_FALSE(detail.contains(QStringLiteral("newpw")));
    const ChainReport report = checkChains(*db);
    EXPECT_TRUE(report.explained()) << qPrintable(report.text());
    ASSERT_EQ(report.decodingChanges.size(), 1u);
    EXPECT_EQ(report.decodingChanges[0].changes, QStringList{QStringLiteral("weightstart 1 -> 3")});
}

// The correction itself is the loader's (its tests); Save stores what was typed, in whole numbers.
TEST_F(SaveTest, PositionsAreCorrectedAsTheLoaderDoes) {
    struct Case {
        const char* start;
        const char* end;
        const char* shownStart;
        int storedStart;
        int start_;
        int length;
    };
    const Case cases[] = {
        {"", "8", "0", 0, 1, 8},       // empty start: "0" is stored, the program-wide start is 1
        {"2.5", "9", "2.5", 2, 2, 8},  // whole numbers are stored, halves to even
        {"5", "3", "5", 5, 1, 3},
    };
    for (const Case& c : cases) {
        v.Text2 = QString::fromLatin1(c.start);
        v.Text3 = QString::fromLatin1(c.end);
        ASSERT_EQ(save(), SaveOutcome::Saved) << c.start;
        EXPECT_EQ(v.Text2, QString::fromLatin1(c.shownStart));
        EXPECT_EQ(stored("weightstart").toInt(), c.storedStart) << c.start;
        EXPECT_EQ(settings.weightstart, c.start_) << c.start;
        EXPECT_EQ(settings.weightLength, c.length) << c.start;
    }
}

TEST_F(SaveTest, ChecksThatStopSaveWriteNothing) {
    struct Case {
        const char* name;
        void (*edit)(ConfigFormValues&);
        QStringList prompts;
    };
    const Case cases[] = {
        // clang-format off
        {"negative end", [](ConfigFormValues& f) { f.Text3 = QStringLiteral("-1"); },
         {kBeep, msg("Error! start/end can't be less than 0!")}},
        {"negative start", [](ConfigFormValues& f) { f.Text2 = QStringLiteral("-3"); },
         {kBeep, msg("Error! start/end can't be less than 0!")}},
        {"throw string without request string", [](ConfigFormValues& f) { f.chkFields[0] = true; f.text1.clear(); },
         {msg("You have ticked throw-string mode. Outstring ?")}},
        // clang-format on
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(source->read(v));
        v.Text6 = QStringLiteral("9");
        v.Combo6 = QStringLiteral("SPACE");
        c.edit(v);
        settings.delimiterCode = 0;
        EXPECT_EQ(save(), SaveOutcome::Stopped) << c.name;
        EXPECT_EQ(fake.prompts.log, c.prompts) << c.name;
        EXPECT_EQ(stored("minstablereadings").toInt(), 3) << c.name;
        EXPECT_EQ(stored("delimiter").toString(), QStringLiteral("CR")) << c.name;
    }
    // The throw-string stop comes after the delimiter code and usevalue were applied.
    EXPECT_EQ(settings.delimiterCode, 32);
    EXPECT_TRUE(settings.usevalue);
}

TEST_F(SaveTest, RefusedValueNamesTheFieldAndSavesNothing) {
    struct Case {
        void (*edit)(ConfigFormValues&);
        const char* label;
        const char* typed;
    };
    // A whole number out of its column's range, and text in a decimal one (the column kinds' checks are
    // the database layer's tests).
    const Case cases[] = {
        {[](ConfigFormValues& f) { f.Text9 = QStringLiteral("300"); },
         "To qualify for stable reading, consecutive weight readings must be within a decimal digit accuracy "
         "of",
         "300"},
        {[](ConfigFormValues& f) { f.Text10 = QStringLiteral("12kg"); },
         "For autosaving, weight should be stable and must be above", "12kg"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(source->read(v));
        v.chkFields[2] = !v.chkFields[2];  // a change that must not be stored either
        c.edit(v);
        EXPECT_EQ(save(), SaveOutcome::Stopped) << c.typed;
        ASSERT_EQ(fake.prompts.log.size(), 2) << c.typed;
        const QString shown = fake.prompts.log[1];
        EXPECT_TRUE(shown.startsWith(QStringLiteral("message!: Nothing was saved: \"") +
                                     QString::fromUtf8(c.label) + QStringLiteral("\" cannot hold '") +
                                     QString::fromLatin1(c.typed) + "'"))
            << shown.toStdString();
        EXPECT_EQ(stored("FORWEIGHBRIDGE").toInt(), -1) << c.typed;
    }
    // An empty box of a column with a default stores Null; one without a default is refused.
    ASSERT_TRUE(source->read(v));
    v.Text4.clear();
    EXPECT_EQ(save(), SaveOutcome::Saved);
    EXPECT_TRUE(stored("discardweightlessthan").isNull());
    v.Text5.clear();
    EXPECT_EQ(save(), SaveOutcome::Stopped);
}

TEST_F(SaveTest, UntouchedColumnsKeepTheirStoredValueNullIncluded) {
    set({{"outputFiletype", QVariant()}, {"ApplicationName", QVariant()}, {"baud", 38400}});
    ASSERT_TRUE(source->read(v));
    EXPECT_EQ(v.Combo1, QStringLiteral("38400"));
    v.Text6 = QStringLiteral("4");
    ASSERT_EQ(save(), SaveOutcome::Saved);
    EXPECT_TRUE(stored("outputFiletype").isNull());
    EXPECT_TRUE(stored("ApplicationName").isNull());
    EXPECT_EQ(stored("baud").toInt(), 38400);
    EXPECT_EQ(settings.baud, 38400);
    // Null type: Save says nothing about it and leaves the code alone.
    EXPECT_FALSE(fake.prompts.log.join(QLatin1Char('|')).contains(QStringLiteral("type")));
}

TEST_F(SaveTest, ClosedPortTakesTheNewSettingsAndStaysClosed) {
    v.Combo2 = QStringLiteral("3");
    v.Combo1 = QStringLiteral("4800");
    v.Combo3 = QStringLiteral("7");
    v.Combo4 = QStringLiteral("2");
    v.Combo5 = QStringLiteral("e");
    ASSERT_EQ(save(), SaveOutcome::Saved);
    EXPECT_FALSE(fake.port.isOpen());
    EXPECT_EQ(fake.port.openAttempts, 0);
    EXPECT_EQ(fake.port.portNumber(), 3);
    EXPECT_EQ(fake.port.settingsText(), QStringLiteral("4800,e,7,2"));
    EXPECT_EQ(stored("port").toInt(), 3);
    EXPECT_EQ(stored("parity").toString(), QStringLiteral("e"));
    EXPECT_EQ(settings.outputFolder, outFolder());  // output settings applied
}

TEST_F(SaveTest, OpenPortIsReopenedWithRetries) {
    struct Case {
        int failOpens;
        bool reopened;
        int attempts;
    };
    // 21 attempts in all, events let run before each retry (the retries themselves are the port control's).
    const Case cases[] = {{0, true, 1}, {-1, false, 21}};
    for (const Case& c : cases) {
        fake.port.failOpens = 0;
        ASSERT_TRUE(fake.port.open());
        fake.port.failOpens = c.failOpens;
        fake.port.openAttempts = 0;
        fake.events.calls = 0;
        settings.outputFolder.clear();
        v.Combo2 = QStringLiteral("5");
        const SaveOutcome outcome = save();
        EXPECT_EQ(fake.port.isOpen(), c.reopened) << c.failOpens;
        EXPECT_EQ(fake.port.openAttempts, c.attempts) << c.failOpens;
        EXPECT_EQ(stored("port").toInt(), 5);
        if (c.reopened) {
            EXPECT_EQ(outcome, SaveOutcome::Saved);
            EXPECT_EQ(settings.outputFolder, outFolder());
        } else {
            EXPECT_EQ(outcome, SaveOutcome::Stopped);
            EXPECT_EQ(fake.events.calls, 21);
            EXPECT_EQ(fake.prompts.log, QStringList({kBeep, msg("Could not open serial port 5 !"),
                                                     QStringLiteral("message!: No such device: /dev/fake5")}))
                << "the reason after the message";
            EXPECT_TRUE(settings.outputFolder.isEmpty());  // output settings not re-applied
        }
    }
}

// The copy and its messages are the loader's (its tests); Save applies the stored type and passes on an end.
TEST_F(SaveTest, OutputTypeChangedToAccessCopiesTheTemplate) {
    createExportTemplate(app.file(QStringLiteral("veltrane.mdb")));
    v.Combo8 = QStringLiteral("Access file with three fields");
    ASSERT_EQ(save(), SaveOutcome::Saved);
    const QString mdb = outFolder() + QStringLiteral("veltrane.mdb");
    EXPECT_TRUE(QFileInfo::exists(mdb));
    EXPECT_EQ(settings.outputTypeCode, QStringLiteral("3"));
    EXPECT_EQ(stored("outputFiletype").toString(), QStringLiteral("Access file with three fields"));

    // Without the template the program must end.
    QFile::remove(mdb);
    QFile::remove(app.file(QStringLiteral("veltrane.mdb")));
    EXPECT_EQ(save(), SaveOutcome::EndProgram);
}

TEST_F(SaveTest, PortDevicesAreStoredInComports) {
    v.portDevices[3] = QStringLiteral("/dev/ttyUSB0");
    ASSERT_EQ(save(), SaveOutcome::Saved);
    ConfigRecordSource fresh(dbPath());
    EXPECT_EQ(fresh.deviceOf(3), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(fresh.deviceOf(4), QStringLiteral("/dev/ttyS3"));
    // Back to the default device: the row goes.
    v.portDevices[3] = QStringLiteral("/dev/ttyS2");
    ASSERT_EQ(save(), SaveOutcome::Saved);
    auto db = Database::open(dbPath(), QStringLiteral(";pwd=qd584"));
    EXPECT_EQ(db->openRecordSet(QStringLiteral("select * from comports where port = 3"))->recordCount(), 0);
}

}  // namespace
