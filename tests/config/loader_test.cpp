// The configuration loader against real settings database files in a temporary application folder.

#include "config/loader.h"
#include "tests/config_window/config_fixture.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

const QVariant kNull, kYes{-1}, kNo{0};
const QString kBeep = QStringLiteral("beep");
QString msg(const QString& text) {
    return QStringLiteral("message: ") + text;
}

class LoaderTest : public ConfigFixture {
protected:
    void SetUp() override {
        ConfigFixture::SetUp();
        set({{"EnableDDE", kNo}});
    }
    LoadResult load() {
        fake.prompts.log.clear();
        view.reload.clear();
        return loader.load();
    }
    QStringList prompts() const { return fake.prompts.log; }

    QString out = outFolder();
    ConfigLoader loader{settings, fake.services, view};
};

TEST_F(LoaderTest, EveryColumnReachesItsSetting) {
    // clang-format off
    set({{"throwstring", kYes}, {"FORWEIGHBRIDGE", kYes}, {"outstring", QStringLiteral("ENQ")}, {"addcr", kYes},
         {"pw", QStringLiteral("secret")}, {"appendTimeStamp", kYes}, {"appendTimeStampComma", kYes},
         {"reverseweight", kYes}, {"delimiter", QStringLiteral(";")}, {"weightstart", 4}, {"weightend", 9},
         {"port", 7}, {"databits", QStringLiteral(" 7 ")}, {"stopbits", QStringLiteral("2 ")},
         {"parity", QStringLiteral(" e")}, {"baud", 4800}, {"discardweightlessthan", 20.5}, {"usevalue", kYes},
         {"Startonbutton", kYes}, {"Startauto", kYes}, {"saveonbutton", kYes}, {"iNSERTDECIMALS", kYes},
         {"iNSERTBEFORE", 2}, {"AutosaveonStableWeight", kYes}, {"minstablereadings", 6}, {"lowlimit", 1.5},
         {"Highlimit", 99.25}, {"LowHighAlarm", kYes}, {"StabilityCheckAccuracy", 2},
         {"MinimumAutosaveWeight", 250.5}, {"outputApplication", kYes}, {"OutputClipboard", kYes},
         {"EnableDDE", kYes}, {"activateVoiceAlert", kYes}, {"voicealertnormal", kYes},
         {"ApplicationName", QStringLiteral("ERP")}});
    // clang-format on
    writeFile(app.file(QStringLiteral("truckout.wav")));

    ASSERT_EQ(load(), LoadResult::Completed);
    EXPECT_EQ(prompts(), QStringList());
    const Settings& s = settings;
    // clang-format off
    const bool flags[] = {s.throwstring, s.FORWEIGHBRIDGE, s.addcr, s.appendTimeStamp, s.appendTimeStampComma,
        s.reverseweight, s.usevalue, s.Startonbutton, s.Startauto, s.saveonbutton, s.iNSERTDECIMALS,
        s.AutosaveonStableWeight, s.LowHighAlarm, s.OutputClipboard, s.EnableDDE, s.activateVoiceAlert,
        s.voicealertnormal, !s.simpinterface};
    for (bool flag : flags) EXPECT_TRUE(flag);
    EXPECT_EQ(QStringList({s.outstring, s.pw, s.accessPassword, s.delimiter, s.databits, s.stopbits, s.parity,
                           s.outputApplication, s.ApplicationName, s.outputTypeCode, s.outputFilePath,
                           s.voicePromptFile}),
              QStringList({"ENQ", "secret", "secret", ";", "7", "2", "e", "True", "ERP", "2",
                           out + "veltrane.csv", app.file("truckout.wav")}));
    EXPECT_EQ(std::vector<double>({double(s.delimiterCode), double(s.weightstart), double(s.weightLength),
                  double(s.port), double(s.baud), double(s.discardweightlessthan), double(s.iNSERTBEFORE),
                  double(s.decimalDivisor), double(s.minstablereadings), s.lowlimit, s.Highlimit,
                  double(s.StabilityCheckAccuracy), s.MinimumAutosaveWeight}),
              std::vector<double>({59, 4, 6, 7, 4800, 20.5, 2, 100, 6, 1.5, 99.25, 2, 250.5}));
    // clang-format on
    // Parity waits for the port opening; the DDE topic follows EnableDDE.
    EXPECT_EQ(view.reload, QStringList({"settings: 4800,n,7,2", "topic: veltrane"}));
    EXPECT_EQ(view.portToolTip, QStringLiteral("4800,n,7,2  start: 4 to 9 : 59"));
    EXPECT_EQ(view.portNumber, QStringLiteral("7"));
}

TEST_F(LoaderTest, WeightPositions) {
    // In order on one Settings: the end position shares its value with the field length, so a Null
    // end takes the previous load's length.
    struct Case {
        QVariant start, end;
        int loadedStart, length;
        const char* shownEnd;
    };
    const Case cases[] = {
        {0, 0, 1, 100, "100"}, {5, 3, 1, 3, "3"},     {3, 8, 3, 6, "8"},        {4, -2, 4, 97, "100"},
        {-1, 7, 1, 7, "7"},    {2, kNull, 2, 6, "7"}, {kNull, 20, 2, 19, "20"},
    };
    for (const Case& c : cases) {
        set({{"weightstart", c.start}, {"weightend", c.end}});
        load();
        EXPECT_EQ(prompts(), QStringList());
        EXPECT_EQ(settings.weightstart, c.loadedStart) << c.start.toInt() << "/" << c.end.toInt();
        EXPECT_EQ(settings.weightLength, c.length) << c.start.toInt() << "/" << c.end.toInt();
        EXPECT_EQ(view.portToolTip,
                  QStringLiteral("9600,n,8,1  start: %1 to %2 : 13").arg(c.loadedStart).arg(c.shownEnd));
    }
    set({{"simpinterface", kYes}});
    load();
    EXPECT_EQ(view.portToolTip, QStringLiteral("9600,n,8,1 autosense"));
}

TEST_F(LoaderTest, DelimiterNamesAndDivisor) {
    const QString nullMessage = QStringLiteral(
        "Simple interface is turned off in the interface configuration. You need to configure the delimiter "
        "if simple interface id turned off! Delimiter will be defaulted to Carriage return(CR). You can run "
        "the indicator interface wizard to find out the delimiter.");
    // In order on one Settings: an unknown name keeps the code of the load before (0 before any).
    struct Case {
        QVariant name;
        QVariant autosense;
        int code;
        QStringList prompts;
    };
    const Case cases[] = {
        {"cr", kNo, 0, {}},    {"SPACE", kNo, 32, {}},
        {" ETX ", kNo, 3, {}}, {"cr", kNo, 3, {}},
        {"+", kNo, 43, {}},    {kNull, kYes, 13, {}},
        {"LF", kNo, 10, {}},   {kNull, kNo, 13, {kBeep, msg(nullMessage)}},
    };
    for (const Case& c : cases) {
        set({{"delimiter", c.name}, {"simpinterface", c.autosense}});
        load();
        EXPECT_EQ(settings.delimiterCode, c.code) << c.name.toString().toStdString();
        EXPECT_EQ(prompts(), c.prompts) << c.name.toString().toStdString();
    }

    struct Places {
        QVariant insert, places;
        int divisor;
    };
    const Places divisors[] = {{kYes, 3, 1000}, {kYes, 0, 1},         {kYes, 9, 1},
                               {kYes, -2, 1},   {kYes, 8, 100000000}, {kNo, 3, 10},
                               {kNo, 0, 10},    {kYes, 2.5, 100},     {kYes, 3.5, 10000}};
    for (const Places& c : divisors) {
        setRaw({{"iNSERTDECIMALS", c.insert}, {"iNSERTBEFORE", c.places}});  // fractions as stored
        load();
        EXPECT_EQ(settings.decimalDivisor, c.divisor) << c.places.toString().toStdString();
    }
}

TEST_F(LoaderTest, OutputTypeTexts) {
    const QString unset = msg(QStringLiteral("Output file type (CSV/Access) needs to be configured!!!"));
    writeFile(out + QStringLiteral("veltrane.mdb"));
    struct Case {
        QVariant text;
        const char* code;
        const char* file;
        QStringList prompts;
    };
    const Case cases[] = {
        {"CSV file with no headings", "1", "veltrane.csv", {}},
        {"CSV file with headings", "2", "veltrane.csv", {}},
        {"csv", "2", "veltrane.csv", {}},
        {"no headings", "2", "veltrane.csv", {}},
        {"csv, No", "1", "veltrane.csv", {}},
        {"Access file with three fields", "3", "veltrane.mdb", {}},
        {"access, no csv", "3", "veltrane.mdb", {}},
        {kNull, "2", "veltrane.csv", {unset}},
        // Empty text would leave the output with no code at all: it counts as not configured.
        {"", "2", "veltrane.csv", {unset}},
    };
    for (const Case& c : cases) {
        settings = Settings{};
        set({{"outputFiletype", c.text}});
        ASSERT_EQ(load(), LoadResult::Completed);
        const std::string label = c.text.toString().toStdString();
        EXPECT_EQ(settings.outputTypeCode, QString::fromLatin1(c.code)) << label;
        EXPECT_EQ(prompts(), c.prompts) << label;
        EXPECT_EQ(settings.outputFilePath, out + QString::fromLatin1(c.file)) << label;
        EXPECT_EQ(c.code[0] == '3' ? settings.mdbFilePath : settings.csvFilePath, settings.outputFilePath)
            << label;
    }
}

TEST_F(LoaderTest, OutputFolderMessages) {
    const QString empty = app.path() + QStringLiteral("empty/"),
                  onlySub = app.path() + QStringLiteral("onlysub/"),
                  missing = app.path() + QStringLiteral("missing/");
    QDir().mkpath(empty);
    QDir().mkpath(onlySub + QStringLiteral("inner"));
    writeFile(onlySub + QStringLiteral(".hidden"));
    auto doesNotExist = [](const QString& folder) {
        return QStringList{kBeep, msg("Output file location folder " + folder + " does not exist!!!")};
    };
    struct Case {
        QVariant location;
        QString folder;
        QStringList prompts;
    };
    const Case cases[] = {
        {out.chopped(1), out, {}},  // separator appended
        {missing, missing, doesNotExist(missing)},
        {empty, empty, doesNotExist(empty)},
        {onlySub, onlySub, doesNotExist(onlySub)},
        {kNull, app.path(), {msg(QStringLiteral("Output file location folder needs to be configured!!!"))}},
    };
    for (const Case& c : cases) {
        set({{"outputFilelocation", c.location}});
        load();
        EXPECT_EQ(settings.csvFilePath, c.folder + QStringLiteral("veltrane.csv"));
        EXPECT_EQ(prompts(), c.prompts);
    }
}

TEST_F(LoaderTest, FailedColumnsKeepTheirValueAndSayWhy) {
    set({{"port", 4},
         {"minstablereadings", 6},
         {"throwstring", kYes},
         {"baud", 2400},
         {"lowlimit", 3.0},
         {"databits", QStringLiteral("7")},
         {"outstring", "?"},
         {"pw", "abc"},
         {"discardweightlessthan", 50},
         {"ApplicationName", "ERP"}});
    load();
    ASSERT_EQ(prompts(), QStringList());

    // Columns with Null handling.
    set({{"outstring", kNull}, {"pw", kNull}, {"discardweightlessthan", kNull}, {"ApplicationName", kNull}});
    // Columns without, and values that do not convert.
    set({{"throwstring", kNull}, {"port", 300}, {"databits", kNull}, {"outputApplication", kNull}});
    setRaw({{"baud", "fast"}, {"minstablereadings", "many"}, {"lowlimit", "1,5"}});
    ASSERT_EQ(load(), LoadResult::Completed);
    EXPECT_EQ(
        fake.prompts.messages(),
        QStringList(
            {"Invalid use of Null: column throwstring of table config holds no value",
             "Overflow: column port of table config holds 300, outside the range 0 to 255",
             "Invalid use of Null: column databits of table config holds no value",
             "Type mismatch: column baud of table config holds \"fast\", which is not a number",
             "Type mismatch: column minstablereadings of table config holds \"many\", which is not a number",
             "Type mismatch: column lowlimit of table config holds \"1,5\", which is not a number",
             "Invalid use of Null: column outputApplication of table config holds no value"}));
    EXPECT_EQ(fake.prompts.beeps(), 0);
    EXPECT_TRUE(settings.throwstring);
    EXPECT_EQ(QStringList({settings.outstring, settings.pw, settings.accessPassword, settings.ApplicationName,
                           settings.databits, settings.outputApplication}),
              QStringList({"$", "zof", "zof", "ERP", "7", "False"}));
    EXPECT_EQ(settings.discardweightlessthan, 0.0f);
    EXPECT_EQ(std::vector<double>({double(settings.port), double(settings.baud),
                                   double(settings.minstablereadings), settings.lowlimit}),
              std::vector<double>({4, 2400, 6, 3}));
    EXPECT_EQ(view.reload.value(0), QStringLiteral("settings: 2400,n,7,1"));  // made of the kept values

    // Numeric text converts, numbers round half to even before the range check, yes/no is any non-zero.
    setRaw({{"port", " 12 "},
            {"minstablereadings", 2.5},
            {"StabilityCheckAccuracy", 3.5},
            {"databits", 8},
            {"throwstring", "yes"},
            {"FORWEIGHBRIDGE", 0.25},
            {"reverseweight", " -1 "},
            {"baud", "9600"},
            {"outputApplication", kNo},
            {"lowlimit", 3.0}});
    load();
    EXPECT_EQ(prompts(), QStringList());
    EXPECT_EQ(std::vector<int>({settings.port, settings.minstablereadings, settings.StabilityCheckAccuracy}),
              std::vector<int>({12, 2, 4}));
    EXPECT_TRUE(settings.throwstring && settings.FORWEIGHBRIDGE && settings.reverseweight);
    setRaw({{"port", 255.5}});
    load();
    EXPECT_EQ(fake.prompts.messages().size(), 1);
    EXPECT_EQ(settings.port, 12);
}

TEST_F(LoaderTest, MissingDatabaseOrRowFailsEveryReadInTurn) {
    load();
    const Settings before = settings;
    m_db.reset();
    QFile::remove(app.file(QStringLiteral("scale.mdb")));
    ASSERT_EQ(load(), LoadResult::Completed);
    const QStringList shown = fake.prompts.messages();
    // The opening failure, then one per column read: outstring and addcr are read twice, and the
    // discarded columns fail too.
    ASSERT_EQ(shown.size(), qsizetype(configColumns().size()) + 3);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("scale.mdb"))) << shown[0].toStdString();
    EXPECT_TRUE(shown[1].contains(QStringLiteral("column throwstring "))) << shown[1].toStdString();
    EXPECT_TRUE(shown.last().contains(QStringLiteral("column ApplicationName ")));
    EXPECT_EQ(QStringList({settings.outputFilePath, settings.outputTypeCode, settings.databits}),
              QStringList({before.outputFilePath, before.outputTypeCode, before.databits}));
    EXPECT_EQ(settings.weightLength, before.weightLength);

    createSettingsDatabase(app.file(QStringLiteral("scale.mdb")), out);
    db().execute(QStringLiteral("delete from config"));
    load();
    EXPECT_EQ(
        fake.prompts.messages().mid(0, 1),
        QStringList({"No current record: column throwstring of table config cannot be read, the settings "
                     "database has no configuration row open"}));
    EXPECT_EQ(fake.prompts.messages().size(), shown.size() - 1);
}

TEST_F(LoaderTest, AccessOutputFile) {
    const QString templ = app.file(QStringLiteral("veltrane.mdb")),
                  mdb = out + QStringLiteral("veltrane.mdb");
    const QString prefix = QStringLiteral("Output type is configured as access file. ");
    set({{"outputFiletype", "ACCESS"}, {"EnableDDE", kYes}});
    view.portOpen = true;

    // Neither the output file nor the template: the program ends and no later step runs.
    ASSERT_EQ(load(), LoadResult::EndProgram);
    EXPECT_EQ(prompts(),
              QStringList({kBeep, kBeep,
                           msg(templ + " not found! This file was copied to " + app.path() +
                               " during installation time! Can't proceed without this file!!!!")}));
    EXPECT_TRUE(view.portOpen);
    EXPECT_EQ(view.reload, QStringList());

    // Template there, output folder gone: the copy fails.
    createExportTemplate(templ);
    const QString gone = app.path() + QStringLiteral("gone/");
    set({{"outputFilelocation", gone}});
    ASSERT_EQ(load(), LoadResult::EndProgram);
    EXPECT_EQ(prompts(),
              QStringList({kBeep, msg("Output file location folder " + gone + " does not exist!!!"), kBeep,
                           msg(prefix + "Could not copy the MDB (access) file " + gone + "veltrane.mdb to " +
                               gone + "!! Quitting!!")}));
    EXPECT_TRUE(view.portOpen);

    // The template is copied, and from then on the file is never replaced.
    set({{"outputFilelocation", out}});
    ASSERT_EQ(load(), LoadResult::Completed);
    EXPECT_EQ(prompts(), QStringList({kBeep, kBeep,
                                      msg(prefix + "Copied the MDB (access) file " + mdb + " to " + out)}));
    EXPECT_EQ(settings.outputFilePath, mdb);
    EXPECT_NO_THROW(Database::open(mdb, QString())
                        ->openRecordSet(QStringLiteral("select * from weightlog"))
                        ->recordCount());
    QFile::remove(templ);
    ASSERT_EQ(load(), LoadResult::Completed);
    EXPECT_EQ(prompts(), QStringList());
}

TEST_F(LoaderTest, VoiceFileAndPort) {
    const QString wav = app.file(QStringLiteral("truckout.wav"));
    set({{"activateVoiceAlert", kYes}, {"voicealertnormal", kYes}});
    view.portOpen = true;
    load();
    EXPECT_EQ(prompts(), QStringList({msg("Voice file is missing!!  : " + wav)}));
    EXPECT_TRUE(settings.voicealertnormal);
    // A reload closes an open port first and never opens one.
    EXPECT_EQ(view.reload, QStringList({"close", "settings: 9600,n,8,1"}));
    EXPECT_EQ(fake.port.openAttempts, 0);

    writeFile(wav);
    load();
    EXPECT_EQ(prompts(), QStringList());
    set({{"activateVoiceAlert", kNo}});
    load();
    EXPECT_FALSE(settings.voicealertnormal);
    EXPECT_EQ(view.reload, QStringList({"settings: 9600,n,8,1"}));
}

}  // namespace
