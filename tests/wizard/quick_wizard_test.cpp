// The wizard's quick search as an installer meets it: the real weighing core and serial port on the
// simulator's pty, a real settings database and files; the designed search's waits at a twentieth.
#include "core/weighing_core.h"
#include "platform/qt_serial_port.h"
#include "tests/support/fakes.h"
#include "tests/support/sim_process.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/protocol_search.h"

#include <gtest/gtest.h>
#include <QRegularExpression>

using namespace veltrane;
using namespace veltrane::test;

namespace {

struct QuickBench {
    explicit QuickBench(const QStringList& simArgs)
        : timers(0.05),
          port([this](int) { return sim.device; }),
          services{fakes.clock,     fakes.prompts, events,    timers,      fakes.sound,  fakes.shell,
                   fakes.clipboard, port,          fakes.dde, fakes.files, folder.path()},
          core(services, settings, view) {
        sim.start(simArgs + QStringList{"--no-stdin", "--weight", "1234", "--rate", "10"});
        makeSettingsDatabase(folder.path());
        fakes.prompts.inputAnswers = {QStringLiteral("2"), QStringLiteral("60000"), QStringLiteral("1234")};
        fakes.clock.set(QDateTime(QDate(2026, 3, 14), QTime(9, 30, 5)));
        search.setQuickSearch(true);
    }
    QStringList offers() const {
        return fakes.prompts.log.filter(QRegularExpression(QStringLiteral("^ask: Identified")));
    }

    SimProcess sim;
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

TEST(QuickSearch, FindsANineteenTwoHundredBaudIndicatorAndStoresIt) {
    QuickBench bench({"--settings", "19200,e,7,1", "--format", "stx-etx"});
    bench.fakes.prompts.yesNoAnswers = {true, true};
    bench.search.RunInterfaceWizard();

    ASSERT_EQ(bench.offers().size(), 1);
    EXPECT_TRUE(bench.offers()[0].startsWith(QStringLiteral("ask: Identified the protocol as 1(")));
    EXPECT_TRUE(bench.view.captions.contains(QStringLiteral("Delvorn : Quick search : Trying 19200,n,8,1")));
    expectStored(bench.folder.path(), {{"baud", 19200}, {"parity", "e"}, {"databits", 7}, {"port", 2}});
    const QByteArray report = readFile(bench.folder.file(QStringLiteral("wizardreport.txt")));
    EXPECT_TRUE(report.contains("Found by the quick search in ")) << report.constData();
    EXPECT_TRUE(report.contains("Delimiter: ETX")) << report.constData();
}

// After a No the designed search runs as designed: its first offer is its own protocol 4.
TEST(QuickSearch, ANoLeavesTheDesignedSearchAsItIs) {
    QuickBench bench({"--settings", "2400,n,8,1", "--template", "ST,GS,+{weight:06}kg\\r"});
    bench.fakes.prompts.yesNoAnswers = {true, false, true};
    bench.search.RunInterfaceWizard();

    ASSERT_EQ(bench.offers().size(), 2);
    EXPECT_EQ(bench.offers()[1],
              QStringLiteral("ask: Identified the protocol as 4(Autosense on)") + kOfferTail);
    expectStored(bench.folder.path(), {{"baud", 2400}, {"simpinterface", -1}});
}
