// The wizard against the real weighing core, with an in-process port: what a pty cannot carry (parity,
// 7 data bits) and the wizard's start and refusal paths. Waits end when the test ticks the delay timer.
#include "wizard/protocol_search.h"
#include "core/decoder.h"
#include "core/weighing_core.h"
#include "tests/support/fakes.h"
#include "tests/wizard/wizard_test_support.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QRegularExpression>

using namespace veltrane;
using namespace veltrane::test;

namespace {

const QString kProceed = QStringLiteral(
    "ask: Make sure that the indicator is transmitting continuous data to the computer. Delvorn will try to "
    "connect "
    "to indicator. No configuration changes would be made without asking you. Maximum time required to check "
    "360 "
    "indicator protocol combinations would be 3 to 20 minutes. Proceed?");

// An indicator that sends only when the port is set to its frame.
struct Bench {
    explicit Bench(const QString& frameSettings, QByteArray frame = "ST,GS,+001234kg\r")
        : fakes(folder.path()), core(fakes.services, settings, view) {
        fakes.port.onOpen = [this, frameSettings] {
            transmitting = fakes.port.settingsText() == frameSettings;
        };
        fakes.events.onProcess = [this, frame] {
            if (transmitting && fakes.port.isOpen()) fakes.port.inject(frame);
            static_cast<FakeTimer&>(core.timerDelay()).fire();
        };
        settings.AutosaveonStableWeight = true;
        view.windowCaption = QStringLiteral("Veltrane");
    }
    QStringList asks() const {
        return fakes.prompts.log.filter(QRegularExpression(QStringLiteral("^ask: Identified")));
    }

    TempFolder folder;
    FakeServices fakes;
    Settings settings;
    FakeView view;
    WeighingCore core;
    ProtocolSearch search{fakes.services, settings, view, core.port(), core.searchTrials()};
    bool transmitting = false;
};

}  // namespace

TEST(ProtocolSearch, RefusedAnswersEndTheWizardWithTheirMessage) {
    struct Case {
        QStringList answers;
        QString message;
    };
    const Case cases[] = {
        {{QStringLiteral("")}, QStringLiteral("Com port number must be between 1 to 20!")},
        {{QStringLiteral("7"), QStringLiteral("60.")}, QStringLiteral("Max capacity entered is invalid!")},
        {{QStringLiteral("07"), QStringLiteral("60.000"), QStringLiteral("12kg")},
         QStringLiteral("Weight must be totally numeric!")},
    };
    for (const auto& c : cases) {
        Bench bench(QStringLiteral("2400,n,8,1"));
        bench.settings.reverseweight = true;
        bench.fakes.prompts.yesNoAnswers = {true};
        for (const QString& a : c.answers) bench.fakes.prompts.inputAnswers.push_back(a);
        bench.search.RunInterfaceWizard();
        const QStringList log = bench.fakes.prompts.log;
        ASSERT_GE(log.size(), 2);
        EXPECT_EQ(log.mid(log.size() - 2),
                  QStringList({QStringLiteral("beep"), QStringLiteral("message: ") + c.message}));
        EXPECT_FALSE(bench.settings.AutosaveonStableWeight);
        EXPECT_FALSE(bench.settings.reverseweight);
        EXPECT_EQ(bench.settings.weightstart, 1);
        EXPECT_EQ(bench.settings.weightLength, 200);
        EXPECT_EQ(bench.fakes.port.openAttempts, 0);
        EXPECT_FALSE(bench.core.decoder().searchRunning());
        if (c.answers.size() == 3) {
            EXPECT_EQ(
                log[log.size() - 3],
                QStringLiteral(
                    "input: Keep a steady weight of 10.001 or above on the weighbridge  ( with 2 digits "
                    "and 3 decimals.) . What weight is indicator showing on its display ?|Sample weight|"));
        }
    }
}

// (A second start while the search runs is met in the second-phase test.)
TEST(ProtocolSearch, NoAtTheQuestionChangesNothingElse) {
    Bench bench(QStringLiteral("2400,n,8,1"));
    bench.search.RunInterfaceWizard();
    EXPECT_EQ(bench.fakes.prompts.log, QStringList({kProceed}));
    EXPECT_TRUE(bench.settings.AutosaveonStableWeight);
}

// 4800,e,7,1 is not among the first five settings: only the second phase, at row 42 of delimiter CR, hears
// it. Declining sets the ceiling to 9600; the "?" delimiter then finds it again and Yes stores Autosense.
TEST(ProtocolSearch, SecondPhaseFindsSevenBitEvenParityIndicator) {
    Bench bench(QStringLiteral("4800,e,7,1"));
    makeSettingsDatabase(bench.folder.path());
    auto& prompts = bench.fakes.prompts;
    prompts.yesNoAnswers = {true, false, true};
    prompts.inputAnswers = {QStringLiteral("3"), QStringLiteral("60000"), QStringLiteral("1234")};
    ProtocolSearch& search = bench.search;
    // The operator presses the wizard button while the first offer is shown.
    bool pressed = false;
    prompts.whileModal = [&] {
        if (!pressed && prompts.log.last().startsWith(QStringLiteral("ask: Identified"))) {
            pressed = true;
            search.RunInterfaceWizard();
        }
    };

    search.RunInterfaceWizard();

    // The second start only beeps.
    const auto firstOffer = prompts.log.indexOf(QRegularExpression(QStringLiteral("ask: Identified.*")));
    ASSERT_GT(firstOffer, 0);
    EXPECT_EQ(prompts.log[firstOffer + 1], QStringLiteral("beep"));

    ASSERT_EQ(bench.asks().size(), 2);
    EXPECT_EQ(bench.asks()[0],
              QStringLiteral("ask: Identified the protocol as 107(Autosense on)") + kOfferTail);
    // CR: 54 rows up to 9600; ETX to "=": 10 x 54; "?": row 42.
    EXPECT_EQ(bench.asks()[1],
              QStringLiteral("ask: Identified the protocol as 701(Autosense on)") + kOfferTail);
    EXPECT_EQ(bench.fakes.port.portNumber(), 3);
    EXPECT_TRUE(bench.view.captions.contains(QStringLiteral("Delvorn : Crossed 9600. Skpping to next! ")));
    EXPECT_TRUE(bench.view.captions.filter(QStringLiteral("Delvorn : Trying 19200")).isEmpty());
    EXPECT_TRUE(
        bench.view.captions.contains(QStringLiteral("Delvorn : Trying 4800,e,7,1 (107.42 of 360 protocols - "
                                                    "Delimit: 1 : 13) till 38400 ST,GS,+001234kg")));

    // Autosense leaves the delimiter and positions as they were.
    const QVariantMap stored{{"simpinterface", -1}, {"usevalue", 0}, {"delimiter", ";"},  {"weightstart", 7},
                             {"weightend", 9},      {"baud", 4800},  {"parity", "e"},     {"databits", 7},
                             {"stopbits", 1},       {"port", 3},     {"reverseweight", 0}};
    expectStored(bench.folder.path(), stored);
    // The storing is recorded, with the settings that changed.
    auto events = Database::open(bench.folder.file(QLatin1String(kSettingsDatabaseName)),
                                 QLatin1String(kSettingsDatabaseConnect))
                      ->openRecordSet(QStringLiteral("select * from eventlog where kind = 'settings'"));
    ASSERT_EQ(events->recordCount(), 1);
    const QString detail = events->field(QStringLiteral("detail")).toString();
    EXPECT_TRUE(detail.contains(QStringLiteral(R"({"column":"baud","new":4800,"old":9600})")))
        << qPrintable(detail);
    EXPECT_TRUE(detail.contains(QStringLiteral(R"("by":"wizard")")));
    EXPECT_EQ(prompts.messages().mid(prompts.messages().size() - 2),
              QStringList(
                  {QStringLiteral("Updated the settings. Baud: 4800  Parity: e  Data bits: 7  Stop bits: 1"),
                   QStringLiteral("Updated the settings. Wizard will open the log file and the report files "
                                  "now. You can use report file to view possible configurations for "
                                  "indicator interface settings. You may mail the log file to ") +
                       QStringLiteral(VELTRANE_SUPPORT_EMAIL)}));
    EXPECT_EQ(prompts.log[prompts.log.size() - 2], QStringLiteral("pointer: custom"));

    const QByteArray report = readFile(bench.folder.file(QStringLiteral("wizardreport.txt")));
    EXPECT_TRUE(report.startsWith(
        "\r\n\r\nProtocol No: 107\r\n Settings: Uncheck autosense, Start position: 10 End "
        "position 13  Delimiter: CR\r\nCom port settings : Baud : 4800  Data bits : 7   Stop "
        "bits : 1  Parity : e\r\n"));
    EXPECT_TRUE(report.contains(
        "\r\nProtocol No: 701\r\n Settings: Uncheck autosense, Start position: 3 End position 6  "
        "Delimiter: ?\r\n"));
    EXPECT_EQ(report.count("\r\nComments: Parity = 'n' (none) is preferred."), 2);
    const QByteArray log = readFile(bench.folder.file(QStringLiteral("wizardlog.txt")));
    EXPECT_TRUE(log.startsWith("\r\n(1-300,n,8,1-CR)\r\n(2-600,n,8,1-CR)"));
    EXPECT_TRUE(log.contains(
        "\r\n(106-4800,o,7,1-CR)\r\n(107-4800,e,7,1-CR)-83-84-44-71-83-44-43-48-48-49-50-51-52-107-103-13("));
    // The flag is clear after the first identification: the later block is its closing line only.
    EXPECT_FALSE(log.contains("(108-"));
    EXPECT_EQ(log.count(" Search:1234)\r\n\r\n\r\n"), 2);
}

// A port that never opens: every one of the 65 + 12 x 72 combinations reports it and the search runs on,
// then ends with the not-found message and one log block.
TEST(ProtocolSearch, PortThatNeverOpensIsReportedPerCombinationAndTheSearchEnds) {
    Bench bench(QStringLiteral("4800,e,7,1"));
    bench.fakes.port.failOpens = -1;
    auto& prompts = bench.fakes.prompts;
    prompts.yesNoAnswers = {true};
    prompts.inputAnswers = {QStringLiteral("3"), QStringLiteral("150"), QStringLiteral("1234")};

    bench.search.RunInterfaceWizard();

    EXPECT_EQ(prompts.messages().count(QStringLiteral("No such device: /dev/fake3")), 929);
    EXPECT_EQ(prompts.log.mid(prompts.log.size() - 3),
              QStringList(
                  {QStringLiteral("beep"),
                   QStringLiteral("message: Could not identify the connection!! You may run the wizard once "
                                  "again to check further. Marlume will open the log file now. Please mail "
                                  "the log file to ") +
                       QStringLiteral(VELTRANE_SUPPORT_EMAIL),
                   QStringLiteral("pointer: custom")}));
    const QByteArray log = readFile(bench.folder.file(QStringLiteral("wizardlog.txt")));
    EXPECT_TRUE(log.contains("\r\n(65-9600,n,8,1-?)\r\n(66-300,n,8,1-CR)"));
    EXPECT_TRUE(log.endsWith("\r\n(929-38400,e,8,2-?)(2026-03-14 09:30:00 Search:1234)\r\n\r\n\r\n"));
    EXPECT_FALSE(QFile::exists(bench.folder.file(QStringLiteral("wizardreport.txt"))));
    EXPECT_EQ(bench.fakes.shell.opened.size(), 2);
    EXPECT_EQ(bench.view.caption(), QStringLiteral("Veltrane"));
    EXPECT_FALSE(bench.core.decoder().searchRunning());
}

// Settings that cannot be stored are never reported as updated.
TEST(ProtocolSearch, MissingSettingsDatabaseIsShownAndNothingClaimsSuccess) {
    Bench bench(QStringLiteral("2400,n,8,1"));
    auto& prompts = bench.fakes.prompts;
    prompts.yesNoAnswers = {true, true};
    prompts.inputAnswers = {QStringLiteral("3"), QStringLiteral("60000"), QStringLiteral("1234")};

    bench.search.RunInterfaceWizard();

    EXPECT_EQ(bench.asks().size(), 1);
    EXPECT_TRUE(
        bench.asks()[0].startsWith(QStringLiteral("ask: Identified the protocol as 4(Autosense on)")));
    const QString last = prompts.messages().last();
    EXPECT_TRUE(last.contains(QStringLiteral("scale.mdb"))) << last.toStdString();
    EXPECT_TRUE(prompts.messages().filter(QStringLiteral("Updated the settings")).isEmpty());
    EXPECT_EQ(prompts.log.last(), QStringLiteral("pointer: custom"));
    EXPECT_TRUE(bench.fakes.shell.opened.isEmpty());
}

// The main window closes during the search: the search ends at its next wait with the port closed, and
// nothing more is asked, shown, written or stored.
TEST(ProtocolSearch, StopEndsTheSearchAtItsNextWaitAndReleasesThePort) {
    Bench bench(QStringLiteral("2400,n,8,1"));
    makeSettingsDatabase(bench.folder.path());
    const QVariantMap before = readConfigRow(bench.folder.path());
    auto& prompts = bench.fakes.prompts;
    prompts.yesNoAnswers = {true, true};
    prompts.inputAnswers = {QStringLiteral("3"), QStringLiteral("60000"), QStringLiteral("1234")};
    int opens = 0;
    bench.fakes.port.onOpen = [&] {
        bench.transmitting = bench.fakes.port.settingsText() == QStringLiteral("2400,n,8,1");
        if (++opens == 2) bench.search.stop();
    };
    bench.search.RunInterfaceWizard();

    EXPECT_EQ(opens, 2);
    EXPECT_FALSE(bench.fakes.port.isOpen());
    EXPECT_EQ(prompts.log.last(), QStringLiteral("pointer: custom"));
    EXPECT_TRUE(bench.asks().isEmpty());
    EXPECT_TRUE(bench.fakes.shell.opened.isEmpty());
    EXPECT_FALSE(QFile::exists(bench.folder.file(QStringLiteral("wizardlog.txt"))));
    EXPECT_EQ(readConfigRow(bench.folder.path()), before);
    EXPECT_FALSE(bench.core.decoder().searchRunning());
    EXPECT_FALSE(bench.core.timerDelay().isEnabled()) << "no tick left over to cut a later wait short";
    EXPECT_EQ(bench.view.caption(), QStringLiteral("Veltrane"));
}
