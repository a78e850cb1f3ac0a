// The wizard as an installer meets it: the real weighing core, the real serial port on the simulator's
// pseudo-terminal, a real settings database and real files. Only the prompts are scripted, and the
// waits run at a twentieth of their length through the timer service.
#include "core/decoder.h"
#include "core/port_control.h"
#include "core/weighing_core.h"
#include "platform/qt_serial_port.h"
#include "tests/support/fakes.h"
#include "tests/support/sim_process.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/protocol_search.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QRegularExpression>

using namespace veltrane;
using namespace veltrane::test;

namespace {

constexpr double kWaitScale = 0.05;

// The search on the port of an indicator-sim at the given settings and frame, showing 1234.
struct PtyBench {
    explicit PtyBench(const QStringList& simArgs)
        : timers(kWaitScale),
          port([this](int) { return sim.device; }),
          services{fakes.clock,     fakes.prompts, events,    timers,      fakes.sound,  fakes.shell,
                   fakes.clipboard, port,          fakes.dde, fakes.files, folder.path()},
          core(services, settings, view) {
        sim.start(simArgs + QStringList{"--no-stdin", "--weight", "1234", "--rate", "20"});
        makeSettingsDatabase(folder.path());
        fakes.prompts.inputAnswers = {QStringLiteral("2"), QStringLiteral("60000"), QStringLiteral("1234")};
        fakes.clock.set(QDateTime(QDate(2026, 3, 14), QTime(9, 30, 5)));
        view.windowCaption = QStringLiteral("Veltrane");
    }
    QStringList offers() const {
        return fakes.prompts.log.filter(QRegularExpression(QStringLiteral("^ask: Identified")));
    }
    QByteArray report() const { return readFile(folder.file(QStringLiteral("wizardreport.txt"))); }
    QByteArray log() const { return readFile(folder.file(QStringLiteral("wizardlog.txt"))); }

    SimProcess sim;  // first: it goes last, after the port that reads it
    TempFolder folder;
    FakeServices fakes;
    QtEventPump events;
    QtTimerService timers;
    QtSerialPort port;
    Services services;
    Settings settings;
    FakeView view;
    WeighingCore core;
    ProtocolSearch search{services, settings, view, core.port(), core.searchTrials()};
};

}  // namespace

TEST(WizardOnPty, FindsCrTerminatedIndicatorAtProtocolFourAndStoresAutosense) {
    PtyBench bench({"--settings", "2400,n,8,1", "--template", "ST,GS,+{weight:06}kg\\r"});
    ASSERT_FALSE(bench.sim.device.isEmpty());
    bench.fakes.prompts.yesNoAnswers = {true, true};

    bench.search.RunInterfaceWizard();

    EXPECT_EQ(bench.offers(),
              QStringList({QStringLiteral("ask: Identified the protocol as 4(Autosense on)") + kOfferTail}));
    EXPECT_EQ(bench.settings.weightstart, 10);
    EXPECT_EQ(bench.settings.weightLength, 4);
    EXPECT_TRUE(bench.settings.simpinterface);
    EXPECT_TRUE(bench.port.isOpen());
    EXPECT_EQ(bench.port.settingsText(), QStringLiteral("2400,n,8,1"));

    // Autosense needs no delimiter: the stored one stays.
    const QVariantMap stored{{"simpinterface", -1}, {"usevalue", 0}, {"delimiter", ";"}, {"baud", 2400},
                             {"parity", "n"},       {"databits", 8}, {"stopbits", 1},    {"port", 2}};
    expectStored(bench.folder.path(), stored);

    EXPECT_EQ(
        bench.report(),
        QByteArray("\r\n\r\n"
                   "Protocol No: 4\r\n"
                   " Settings: Uncheck autosense, Start position: 10 End position 13  Delimiter: CR\r\n"
                   "Com port settings : Baud : 2400  Data bits : 8   Stop bits : 1  Parity : n\r\n"
                   "(Data from indicator: ST,GS,+001234kg Actual weight : 1234)\r\n"
                   "OR, Just enable (tick) autosense option. Same Com port settings \r\n"
                   "2026-03-14 09:30:05------------------------------------------ (Sample weight used :1234)"
                   "\r\n\r\n"));
    // Each combination's line follows what was heard under it; the right one heard whole frames.
    const QByteArray log = bench.log();
    EXPECT_TRUE(log.contains("\r\n(1-300,n,8,1-CR)")) << log.left(200).constData();
    const auto third = log.indexOf("\r\n(3-1200,n,8,1-CR)");
    const auto fourth = log.indexOf("\r\n(4-2400,n,8,1-CR)");
    ASSERT_TRUE(third > 0 && fourth > third);
    EXPECT_TRUE(
        log.mid(third, fourth - third).contains("-83-84-44-71-83-44-43-48-48-49-50-51-52-107-103-13"));
    // Characters that arrive while events run after the line (before the match clears the search flag)
    // are still logged; nothing else may come between it and the block's closing line.
    static const QRegularExpression tail(QStringLiteral(
        "\r\n\\(4-2400,n,8,1-CR\\)(-\\d+)*\\(2026-03-14 09:30:05 Search:1234\\)\r\n\r\n\r\n$"));
    EXPECT_TRUE(tail.match(QString::fromLatin1(log)).hasMatch()) << log.right(200).constData();
    EXPECT_EQ(bench.fakes.shell.opened, QStringList({bench.folder.file(QStringLiteral("wizardreport.txt")),
                                                     bench.folder.file(QStringLiteral("wizardlog.txt"))}));

    // The port the wizard leaves open is weighing's: the weight comes, and goes with the device.
    EXPECT_EQ(bench.core.port().state(), PortControl::State::Weighing);
    ASSERT_TRUE(pumpUntil([&] { return !bench.core.weightData().isEmpty(); }, 5000));
    bench.sim.process.kill();
    EXPECT_TRUE(pumpUntil([&] { return bench.core.weightData().isEmpty() && !bench.port.isOpen(); }, 2000))
        << "still " << bench.core.weightData().toStdString();
}

// With CR LF the LF opens the next record and counts in the positions. Declining sets the ceiling from the
// declined settings, which the next titles show; the LF delimiter then finds the frame again.
TEST(WizardOnPty, CrLfFramesShiftThePositionsAndADeclineMovesTheCeiling) {
    PtyBench bench({"--settings", "2400,n,8,1", "--template", "ST,GS,+{weight:06}kg\\r\\n"});
    ASSERT_FALSE(bench.sim.device.isEmpty());
    bench.fakes.prompts.yesNoAnswers = {true, false, true};

    bench.search.RunInterfaceWizard();

    EXPECT_EQ(bench.offers(),
              QStringList({QStringLiteral("ask: Identified the protocol as 4(Autosense on)") + kOfferTail,
                           QStringLiteral("ask: Identified the protocol as 19(Autosense on)") + kOfferTail}));
    const QByteArray report = bench.report();
    EXPECT_TRUE(
        report.contains("Protocol No: 4\r\n Settings: Uncheck autosense, Start position: 11 End position 14  "
                        "Delimiter: CR\r\n"));
    EXPECT_TRUE(report.contains(
        "Protocol No: 19\r\n Settings: Uncheck autosense, Start position: 10 End position 13  "
        "Delimiter: LF\r\n"));
    EXPECT_TRUE(bench.view.captions.contains(QStringLiteral(
        "Marlume : Autosense : Trying 9600,n,8,1 (5.5 of 360 protocols - Delimit: 1 : 13) till 4800")));
    EXPECT_TRUE(bench.view.captions.contains(QStringLiteral(
        "Marlume : Autosense : Trying 300,n,8,1 (16.1 of 360 protocols - Delimit: 4 : 10) till 4800")));
    EXPECT_EQ(readConfigRow(bench.folder.path()).value(QStringLiteral("baud")).toInt(), 2400);
}

// Digits least significant first, ended by "=": found reversed, stored with position decoding.
TEST(WizardOnPty, ReversedIndicatorIsStoredWithItsDelimiterAndReverseFlag) {
    PtyBench bench({"--settings", "9600,n,8,1", "--format", "reversed"});
    ASSERT_FALSE(bench.sim.device.isEmpty());
    bench.fakes.prompts.yesNoAnswers = {true, true};

    bench.search.RunInterfaceWizard();

    EXPECT_EQ(bench.offers(),
              QStringList({QStringLiteral(
                               "ask: Identified the protocol as 55(Autosense off, Serial port configuration: "
                               "9600,n,8,1 Start Position: 1 - 4 Delimiter: 11)") +
                           kOfferTail}));
    EXPECT_TRUE(bench.report().contains(
        "(Data from indicator: 432100 Actual weight : 1234)\r\nWeight is sent in reverse! "
        "You will have to check this option in interface configuration. \n\r\n2026-"));
    const QVariantMap stored{{"usevalue", -1}, {"simpinterface", 0},  {"delimiter", "="}, {"weightstart", 1},
                             {"weightend", 4}, {"reverseweight", -1}, {"baud", 9600}};
    expectStored(bench.folder.path(), stored);
    // The window decodes with what was stored: the weight box shows the sample weight.
    EXPECT_EQ(bench.view.weight, QStringLiteral("1234"));
}
