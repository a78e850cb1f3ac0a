// The configuration loader against real settings database files in a temporary application folder.

#include "config/loader.h"
#include "config/schema.h"
#include "platform/database.h"
#include "tests/support/fakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <utility>

using namespace veltrane;
using namespace veltrane::test;

namespace {

class FakeLoaderView final : public LoaderView {
public:
    bool portIsOpen() override { return portOpen; }
    void closePortForReload() override {
        portOpen = false;
        log << QStringLiteral("close");
    }
    void setPortSettingsText(const QString& text) override { log << QStringLiteral("settings: ") + text; }
    void setPortToolTip(const QString& text) override { toolTip = text; }
    void setPortNumberText(const QString& text) override { portText = text; }
    void setDdeTopic(const QString& topic) override { log << QStringLiteral("topic: ") + topic; }

    bool portOpen = false;
    QString toolTip;
    QString portText;
    QStringList log;
};

using Columns = std::initializer_list<std::pair<const char*, QVariant>>;

const QVariant kNull{};
const QVariant kYes{-1};
const QVariant kNo{0};

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        createSettingsDatabase(dbPath(), outFolder());
        QDir().mkpath(outFolder());
        QFile keep(outFolder() + QStringLiteral("keep.txt"));
        ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
        // A quiet baseline: every test changes only what it is about.
        set({{"outputFilelocation", outFolder()},
             {"outputFiletype", QStringLiteral("CSV file with headings")},
             {"simpinterface", kNo},
             {"delimiter", QStringLiteral("CR")},
             {"weightstart", 1},
             {"weightend", 10},
             {"port", 1},
             {"baud", 9600},
             {"databits", QStringLiteral("8")},
             {"stopbits", QStringLiteral("1")},
             {"parity", QStringLiteral("n")},
             {"EnableDDE", kNo},
             {"activateVoiceAlert", kNo},
             {"iNSERTDECIMALS", kNo}});
    }

    QString dbPath() const { return app.file(QStringLiteral("scale.mdb")); }
    QString outFolder() const { return app.path() + QStringLiteral("out/"); }

    // Keyed opens are slow on purpose (key derivation); the tests keep one connection for their writes.
    Database& db() {
        if (!m_db) m_db = Database::open(dbPath(), QStringLiteral(";pwd=qd584"));
        return *m_db;
    }

    void set(Columns columns) {
        auto rs = db().openRecordSet(QStringLiteral("select * from config"));
        rs->moveFirst();
        rs->edit();
        for (const auto& [name, value] : columns) rs->setField(QString::fromLatin1(name), value);
        rs->update();
    }

    // Straight into the file, past the record set's checks, as another program could write it.
    void setRaw(Columns columns) {
        for (const auto& [name, value] : columns)
            db().execute(QStringLiteral("update config set %1 = ?").arg(QString::fromLatin1(name)), {value});
    }

    LoadResult load() {
        fake.prompts.log.clear();
        view.log.clear();
        return loader.load();
    }

    QStringList prompts() const { return fake.prompts.log; }

    TempFolder app;
    FakeServices fake{app.path()};
    Settings settings;
    FakeLoaderView view;
    ConfigLoader loader{settings, fake.services, view};
    std::unique_ptr<Database> m_db;
};

QString msg(const QString& text) { return QStringLiteral("message: ") + text; }
const QString kBeep = QStringLiteral("beep");

TEST_F(LoaderTest, EveryColumnReachesItsSetting) {
    set({{"throwstring", kYes}, {"FORWEIGHBRIDGE", kYes}, {"outstring", QStringLiteral("ENQ")},
         {"addcr", kYes}, {"pw", QStringLiteral("secret")}, {"appendTimeStamp", kYes},
         {"appendTimeStampComma", kYes}, {"reverseweight", kYes}, {"delimiter", QStringLiteral(";")},
         {"weightstart", 4}, {"weightend", 9}, {"port", 7}, {"databits", QStringLiteral(" 7 ")},
         {"stopbits", QStringLiteral("2 ")}, {"parity", QStringLiteral(" e")}, {"baud", QStringLiteral(" 4800 ")},
         {"discardweightlessthan", 20.5}, {"usevalue", kYes}, {"Startonbutton", kYes}, {"Startauto", kYes},
         {"saveonbutton", kYes}, {"iNSERTDECIMALS", kYes}, {"iNSERTBEFORE", 2},
         {"AutosaveonStableWeight", kYes}, {"minstablereadings", 5}, {"lowlimit", 1.5}, {"Highlimit", 99.25},
         {"LowHighAlarm", kYes}, {"StabilityCheckAccuracy", 2}, {"MinimumAutosaveWeight", 250.5},
         {"outputApplication", kYes}, {"OutputClipboard", kYes}, {"EnableDDE", kYes},
         {"activateVoiceAlert", kYes}, {"voicealertnormal", kYes}, {"ApplicationName", QStringLiteral("ERP")}});
    QFile(app.file(QStringLiteral("truckout.wav"))).open(QIODevice::WriteOnly);

    ASSERT_EQ(load(), LoadResult::Completed);
    EXPECT_EQ(prompts(), QStringList());
    const Settings& s = settings;
    EXPECT_TRUE(s.throwstring && s.FORWEIGHBRIDGE && s.addcr && s.appendTimeStamp && s.appendTimeStampComma &&
                s.reverseweight && s.usevalue && s.Startonbutton && s.Startauto && s.saveonbutton &&
                s.iNSERTDECIMALS && s.AutosaveonStableWeight && s.LowHighAlarm && s.OutputClipboard &&
                s.EnableDDE && s.activateVoiceAlert && s.voicealertnormal);
    EXPECT_FALSE(s.simpinterface);
    EXPECT_EQ(s.outstring, QStringLiteral("ENQ"));
    EXPECT_EQ(s.pw, QStringLiteral("secret"));
    EXPECT_EQ(s.accessPassword, QStringLiteral("secret"));
    EXPECT_EQ(s.delimiter, QStringLiteral(";"));
    EXPECT_EQ(s.delimiterCode, 59);
    EXPECT_EQ(s.weightstart, 4);
    EXPECT_EQ(s.weightLength, 6);
    EXPECT_EQ(s.port, 7);
    EXPECT_EQ(s.databits, QStringLiteral("7"));
    EXPECT_EQ(s.stopbits, QStringLiteral("2"));
    EXPECT_EQ(s.parity, QStringLiteral("e"));
    EXPECT_EQ(s.baud, 4800);
    EXPECT_FLOAT_EQ(s.discardweightlessthan, 20.5f);
    EXPECT_EQ(s.iNSERTBEFORE, 2);
    EXPECT_EQ(s.decimalDivisor, 100);
    EXPECT_EQ(s.minstablereadings, 5);
    EXPECT_DOUBLE_EQ(s.lowlimit, 1.5);
    EXPECT_DOUBLE_EQ(s.Highlimit, 99.25);
    EXPECT_EQ(s.StabilityCheckAccuracy, 2);
    EXPECT_DOUBLE_EQ(s.MinimumAutosaveWeight, 250.5);
    EXPECT_EQ(s.outputApplication, QStringLiteral("True"));
    EXPECT_EQ(s.ApplicationName, QStringLiteral("ERP"));
    EXPECT_EQ(s.outputFolder, outFolder());
    EXPECT_EQ(s.outputTypeCode, QStringLiteral("2"));
    EXPECT_EQ(s.csvFilePath, outFolder() + QStringLiteral("veltrane.csv"));
    EXPECT_EQ(s.outputFilePath, s.csvFilePath);
    EXPECT_EQ(s.voicePromptFile, app.file(QStringLiteral("truckout.wav")));
    // Parity waits for the port opening; the DDE topic follows EnableDDE.
    EXPECT_EQ(view.log, QStringList({QStringLiteral("settings: 4800,n,7,2"), QStringLiteral("topic: veltrane")}));
    EXPECT_EQ(view.toolTip, QStringLiteral("4800,n,7,2  start: 4 to 9 : 59"));
    EXPECT_EQ(view.portText, QStringLiteral("7"));
}

TEST_F(LoaderTest, WeightPositionsAndTooltip) {
    struct Case { int start; int end; int loadedStart; int length; const char* toolTip; };
    const Case cases[] = {
        {0, 0, 1, 100, "9600,n,8,1  start: 1 to 100 : 13"},
        {5, 3, 1, 3, "9600,n,8,1  start: 1 to 3 : 13"},
        {3, 8, 3, 6, "9600,n,8,1  start: 3 to 8 : 13"},
        {4, -2, 4, 97, "9600,n,8,1  start: 4 to 100 : 13"},
        {-1, 7, 1, 7, "9600,n,8,1  start: 1 to 7 : 13"},
    };
    for (const Case& c : cases) {
        set({{"weightstart", c.start}, {"weightend", c.end}});
        load();
        EXPECT_EQ(settings.weightstart, c.loadedStart) << c.start << "/" << c.end;
        EXPECT_EQ(settings.weightLength, c.length) << c.start << "/" << c.end;
        EXPECT_EQ(view.toolTip, QString::fromLatin1(c.toolTip));
    }
    set({{"simpinterface", kYes}});
    load();
    EXPECT_EQ(view.toolTip, QStringLiteral("9600,n,8,1 autosense"));
}

TEST_F(LoaderTest, NullPositionsKeepTheSharedEndValue) {
    set({{"weightstart", 3}, {"weightend", 8}});
    load();
    // The end position and the field length are one value: a Null end reuses the length (6).
    set({{"weightstart", 2}, {"weightend", kNull}});
    load();
    EXPECT_EQ(prompts(), QStringList());
    EXPECT_EQ(settings.weightstart, 2);
    EXPECT_EQ(settings.weightLength, 5);
    set({{"weightstart", kNull}, {"weightend", 20}});
    load();
    EXPECT_EQ(settings.weightstart, 2);
    EXPECT_EQ(settings.weightLength, 19);
}

TEST_F(LoaderTest, DelimiterNames) {
    struct Case { QVariant name; bool autosense; int code; QStringList prompts; };
    const QString nullMessage = QStringLiteral(
        "Simple interface is turned off in the interface configuration. You need to configure the delimiter if "
        "simple interface id turned off! Delimiter will be defaulted to Carriage return(CR). You can run the "
        "indicator interface wizard to find out the delimiter.");
    // Runs in this order on one Settings: an unknown name keeps the code of the load before.
    const Case cases[] = {
        {QStringLiteral("cr"), false, 0, {}},
        {QStringLiteral("SPACE"), false, 32, {}},
        {QStringLiteral(" ETX "), false, 3, {}},
        {QStringLiteral("cr"), false, 3, {}},
        {QStringLiteral("+"), false, 43, {}},
        {kNull, true, 13, {}},
        {QStringLiteral("LF"), false, 10, {}},
        {kNull, false, 13, {kBeep, msg(nullMessage)}},
    };
    for (const Case& c : cases) {
        set({{"delimiter", c.name}, {"simpinterface", c.autosense ? kYes : kNo}});
        load();
        EXPECT_EQ(settings.delimiterCode, c.code) << c.name.toString().toStdString();
        EXPECT_EQ(prompts(), c.prompts) << c.name.toString().toStdString();
    }
}

TEST_F(LoaderTest, DecimalDivisor) {
    struct Case { QVariant insert; QVariant places; int divisor; };
    const Case cases[] = {
        {kYes, 3, 1000}, {kYes, 0, 1}, {kYes, 9, 1}, {kYes, -2, 1}, {kYes, 8, 100000000},
        {kNo, 3, 10}, {kNo, 0, 10}, {kYes, 2.5, 100}, {kYes, 3.5, 10000},  // half to even
    };
    for (const Case& c : cases) {
        setRaw({{"iNSERTDECIMALS", c.insert}, {"iNSERTBEFORE", c.places}});
        load();
        EXPECT_EQ(settings.decimalDivisor, c.divisor) << c.places.toString().toStdString();
    }
}

TEST_F(LoaderTest, OutputTypeTexts) {
    struct Case { QVariant text; const char* code; bool csv; QStringList prompts; };
    const QString unset = msg(QStringLiteral("Output file type (CSV/Access) needs to be configured!!!"));
    QFile(outFolder() + QStringLiteral("veltrane.mdb")).open(QIODevice::WriteOnly);
    const Case cases[] = {
        {QStringLiteral("CSV file with no headings"), "1", true, {}},
        {QStringLiteral("CSV file with headings"), "2", true, {}},
        {QStringLiteral("csv"), "2", true, {}},
        {QStringLiteral("no headings"), "2", true, {}},
        {QStringLiteral("csv, No"), "1", true, {}},
        {QStringLiteral("Access file with three fields"), "3", false, {}},
        {QStringLiteral("access, no csv"), "3", false, {}},
        {kNull, "2", true, {unset}},
        // Empty text would leave the output with no code at all; it counts as not configured.
        {QStringLiteral(""), "2", true, {unset}},
    };
    for (const Case& c : cases) {
        settings = Settings{};
        set({{"outputFiletype", c.text}});
        ASSERT_EQ(load(), LoadResult::Completed);
        const std::string label = c.text.toString().toStdString();
        EXPECT_EQ(settings.outputTypeCode, QString::fromLatin1(c.code)) << label;
        EXPECT_EQ(prompts(), c.prompts) << label;
        const QString expected = outFolder() + (c.csv ? QStringLiteral("veltrane.csv") : QStringLiteral("veltrane.mdb"));
        EXPECT_EQ(settings.outputFilePath, expected) << label;
        EXPECT_EQ(c.csv ? settings.csvFilePath : settings.mdbFilePath, expected) << label;
    }
}

TEST_F(LoaderTest, OutputFolderMessages) {
    const QString empty = app.path() + QStringLiteral("empty/");
    const QString onlySub = app.path() + QStringLiteral("onlysub/");
    QDir().mkpath(empty);
    QDir().mkpath(onlySub + QStringLiteral("inner"));
    QFile(onlySub + QStringLiteral(".hidden")).open(QIODevice::WriteOnly);
    const QString missing = app.path() + QStringLiteral("missing/");
    auto doesNotExist = [](const QString& folder) {
        return QStringList{kBeep, msg(QStringLiteral("Output file location folder ") + folder +
                                      QStringLiteral(" does not exist!!!"))};
    };
    struct Case { QVariant location; QString folder; QStringList prompts; };
    const Case cases[] = {
        {outFolder().chopped(1), outFolder(), {}},  // separator appended
        {missing, missing, doesNotExist(missing)},
        {empty, empty, doesNotExist(empty)},
        {onlySub, onlySub, doesNotExist(onlySub)},
        {kNull, app.path(), {msg(QStringLiteral("Output file location folder needs to be configured!!!"))}},
    };
    for (const Case& c : cases) {
        set({{"outputFilelocation", c.location}});
        load();
        EXPECT_EQ(settings.outputFolder, c.folder);
        EXPECT_EQ(settings.csvFilePath, c.folder + QStringLiteral("veltrane.csv"));
        EXPECT_EQ(prompts(), c.prompts);
    }
}

TEST_F(LoaderTest, NullDefaults) {
    set({{"outstring", QStringLiteral("?")}, {"pw", QStringLiteral("abc")}, {"discardweightlessthan", 50},
         {"ApplicationName", QStringLiteral("ERP")}});
    load();
    set({{"outstring", kNull}, {"pw", kNull}, {"discardweightlessthan", kNull}, {"ApplicationName", kNull}});
    load();
    EXPECT_EQ(prompts(), QStringList());
    EXPECT_EQ(settings.outstring, QStringLiteral("$"));
    EXPECT_EQ(settings.pw, QStringLiteral("zof"));
    EXPECT_EQ(settings.accessPassword, QStringLiteral("zof"));
    EXPECT_EQ(settings.discardweightlessthan, 0.0f);
    EXPECT_EQ(settings.ApplicationName, QStringLiteral("ERP"));
}

TEST_F(LoaderTest, FailedColumnsKeepTheirValueAndSayWhy) {
    set({{"port", 4}, {"minstablereadings", 6}, {"throwstring", kYes}, {"baud", 2400}, {"lowlimit", 3.0},
         {"databits", QStringLiteral("7")}, {"outputApplication", kNo}});
    load();
    ASSERT_EQ(prompts(), QStringList());

    set({{"throwstring", kNull}, {"port", 300}, {"databits", kNull}, {"outputApplication", kNull}});
    setRaw({{"baud", QStringLiteral("fast")}, {"minstablereadings", QStringLiteral("many")},
            {"lowlimit", QStringLiteral("1,5")}});
    ASSERT_EQ(load(), LoadResult::Completed);
    const QStringList shown = fake.prompts.messages();
    const char* columnsInOrder[] = {"throwstring", "port", "databits", "baud", "minstablereadings", "lowlimit",
                                    "outputApplication"};
    ASSERT_EQ(shown.size(), 7) << shown.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(fake.prompts.beeps(), 0);
    for (int i = 0; i < 7; ++i) {
        EXPECT_TRUE(shown[i].contains(QString::fromLatin1(columnsInOrder[i]))) << shown[i].toStdString();
    }
    EXPECT_TRUE(shown[0].startsWith(QStringLiteral("Invalid use of Null")));
    EXPECT_TRUE(shown[1].startsWith(QStringLiteral("Overflow")));
    EXPECT_TRUE(shown[3].startsWith(QStringLiteral("Type mismatch")));
    EXPECT_TRUE(settings.throwstring);
    EXPECT_EQ(settings.port, 4);
    EXPECT_EQ(settings.databits, QStringLiteral("7"));
    EXPECT_EQ(settings.baud, 2400);
    EXPECT_EQ(settings.minstablereadings, 6);
    EXPECT_DOUBLE_EQ(settings.lowlimit, 3.0);
    EXPECT_EQ(settings.outputApplication, QStringLiteral("False"));
    // The kept values still make the port's settings text.
    EXPECT_EQ(view.log.value(0), QStringLiteral("settings: 2400,n,7,1"));
    EXPECT_EQ(view.portText, QStringLiteral("4"));
}

TEST_F(LoaderTest, NumericTextAndRoundingConvert) {
    setRaw({{"port", QStringLiteral("12")}, {"minstablereadings", 2.5}, {"StabilityCheckAccuracy", 3.5},
            {"weightstart", QStringLiteral(" 3 ")}, {"weightend", 255}, {"throwstring", QStringLiteral("yes")},
            {"FORWEIGHBRIDGE", 0.25}, {"reverseweight", QStringLiteral(" -1 ")}});
    load();
    EXPECT_EQ(prompts(), QStringList());
    EXPECT_EQ(settings.port, 12);
    EXPECT_EQ(settings.minstablereadings, 2);
    EXPECT_EQ(settings.StabilityCheckAccuracy, 4);
    EXPECT_EQ(settings.weightstart, 3);
    EXPECT_EQ(settings.weightLength, 253);
    EXPECT_TRUE(settings.throwstring);
    EXPECT_TRUE(settings.FORWEIGHBRIDGE);
    EXPECT_TRUE(settings.reverseweight);
    setRaw({{"port", 255.5}, {"weightend", 40000}});
    load();
    EXPECT_EQ(fake.prompts.messages().size(), 2);
    EXPECT_EQ(settings.port, 12);
}

TEST_F(LoaderTest, MissingDatabaseOrRowFailsEveryReadInTurn) {
    load();
    const Settings before = settings;
    m_db.reset();
    QFile::remove(dbPath());
    ASSERT_EQ(load(), LoadResult::Completed);
    const QStringList shown = fake.prompts.messages();
    // The opening failure, then one message per column read: outstring and addcr are read twice, and
    // the discarded columns fail too.
    ASSERT_EQ(shown.size(), qsizetype(configColumns().size()) + 3);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("scale.mdb"))) << shown[0].toStdString();
    EXPECT_TRUE(shown[1].contains(QStringLiteral("throwstring"))) << shown[1].toStdString();
    EXPECT_TRUE(shown.last().contains(QStringLiteral("ApplicationName")));
    EXPECT_EQ(settings.outputFolder, before.outputFolder);
    EXPECT_EQ(settings.outputTypeCode, before.outputTypeCode);
    EXPECT_EQ(settings.delimiterCode, before.delimiterCode);
    EXPECT_EQ(settings.port, before.port);
    EXPECT_EQ(settings.weightLength, before.weightLength);

    createSettingsDatabase(dbPath(), outFolder());
    db().execute(QStringLiteral("delete from config"));
    load();
    const QStringList noRow = fake.prompts.messages();
    EXPECT_EQ(noRow.size(), shown.size() - 1);
    EXPECT_TRUE(noRow[0].contains(QStringLiteral("throwstring")));
}

TEST_F(LoaderTest, AccessTemplateCopy) {
    const QString mdb = outFolder() + QStringLiteral("veltrane.mdb");
    const QString templ = app.file(QStringLiteral("veltrane.mdb"));
    createExportTemplate(templ);
    set({{"outputFiletype", QStringLiteral("Access file with three fields")}});

    ASSERT_EQ(load(), LoadResult::Completed);
    EXPECT_EQ(prompts(), QStringList({kBeep, kBeep,
                                      msg(QStringLiteral("Output type is configured as access file. Copied the MDB "
                                                         "(access) file ") + mdb + QStringLiteral(" to ") + outFolder())}));
    EXPECT_EQ(settings.outputTypeCode, QStringLiteral("3"));
    EXPECT_EQ(settings.outputFilePath, mdb);
    // The copy is the template, readable as a database.
    EXPECT_NO_THROW(Database::open(mdb, QString())->openRecordSet(QStringLiteral("select * from weightlog")));

    // Present: never replaced, nothing said.
    QFile::remove(templ);
    ASSERT_EQ(load(), LoadResult::Completed);
    EXPECT_EQ(prompts(), QStringList());
    EXPECT_TRUE(QFileInfo::exists(mdb));
}

TEST_F(LoaderTest, AccessOutputThatCannotBeProvidedEndsTheProgram) {
    set({{"outputFiletype", QStringLiteral("ACCESS")}, {"EnableDDE", kYes}});
    view.portOpen = true;

    // Neither the output file nor the template.
    ASSERT_EQ(load(), LoadResult::EndProgram);
    EXPECT_EQ(prompts(), QStringList({kBeep, kBeep,
                                      msg(app.file(QStringLiteral("veltrane.mdb")) +
                                          QStringLiteral(" not found! This file was copied to ") + app.path() +
                                          QStringLiteral(" during installation time! Can't proceed without this file!!!!"))}));
    // No later step ran: the port is still open, nothing was set on the window.
    EXPECT_TRUE(view.portOpen);
    EXPECT_EQ(view.log, QStringList());

    // The template is there but the output folder is not: the copy fails.
    createExportTemplate(app.file(QStringLiteral("veltrane.mdb")));
    const QString missing = app.path() + QStringLiteral("gone/");
    set({{"outputFilelocation", missing}});
    ASSERT_EQ(load(), LoadResult::EndProgram);
    EXPECT_EQ(prompts(),
              QStringList({kBeep, msg(QStringLiteral("Output file location folder ") + missing +
                                      QStringLiteral(" does not exist!!!")),
                           kBeep,
                           msg(QStringLiteral("Output type is configured as access file. Could not copy the MDB "
                                              "(access) file ") + missing + QStringLiteral("veltrane.mdb to ") + missing +
                               QStringLiteral("!! Quitting!!"))}));
    EXPECT_TRUE(view.portOpen);
}

TEST_F(LoaderTest, SaveModeIgnoresAnUnsetType) {
    settings.outputFolder = outFolder();
    settings.outputTypeCode = QStringLiteral("1");
    OutputColumns columns;
    columns.locationNull = false;
    columns.location = outFolder();
    EXPECT_EQ(applyOutputType(settings, fake.services, columns, OutputTypeMode::Save), LoadResult::Completed);
    EXPECT_EQ(settings.outputTypeCode, QStringLiteral("1"));
    EXPECT_EQ(fake.prompts.log, QStringList());
    columns.typeNull = false;
    columns.type = QStringLiteral("csv");
    applyOutputType(settings, fake.services, columns, OutputTypeMode::Save);
    EXPECT_EQ(settings.outputTypeCode, QStringLiteral("2"));
    EXPECT_EQ(settings.outputFilePath, outFolder() + QStringLiteral("veltrane.csv"));
}

TEST_F(LoaderTest, VoiceFileCheck) {
    const QString wav = app.file(QStringLiteral("truckout.wav"));
    set({{"activateVoiceAlert", kYes}, {"voicealertnormal", kYes}});
    load();
    EXPECT_EQ(prompts(), QStringList({msg(QStringLiteral("Voice file is missing!!  : ") + wav)}));
    EXPECT_EQ(settings.voicePromptFile, wav);
    EXPECT_TRUE(settings.voicealertnormal);

    QFile(wav).open(QIODevice::WriteOnly);
    load();
    EXPECT_EQ(prompts(), QStringList());

    set({{"activateVoiceAlert", kNo}});
    load();
    EXPECT_FALSE(settings.voicealertnormal);
}

TEST_F(LoaderTest, ReloadClosesAnOpenPortAndNeverOpensOne) {
    view.portOpen = true;
    load();
    EXPECT_EQ(view.log, QStringList({QStringLiteral("close"), QStringLiteral("settings: 9600,n,8,1")}));
    load();
    EXPECT_EQ(view.log, QStringList({QStringLiteral("settings: 9600,n,8,1")}));
    EXPECT_EQ(fake.port.openAttempts, 0);
}

}  // namespace
