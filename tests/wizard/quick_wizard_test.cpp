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
#include <QTimer>

#include <algorithm>

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
    bench.fakes.prompts.yesNoAnswers = {true, false, true};
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
    bench.fakes.prompts.yesNoAnswers = {true, false, false, true};
    bench.search.RunInterfaceWizard();

    ASSERT_EQ(bench.offers().size(), 2);
    EXPECT_EQ(bench.offers()[1],
              QStringLiteral("ask: Identified the protocol as 4(Autosense on)") + kOfferTail);
    expectStored(bench.folder.path(), {{"baud", 2400}, {"simpinterface", -1}});
}

// A polled indicator answers only when asked, and the wizard asks only after a Yes, and only with read-only
// weight requests: on the wire there is nothing else, and after a No nothing at all.
TEST(QuickSearch, AsksAPolledIndicatorOnlyAfterAYes) {
    QList<QByteArray> allowed;
    for (const char* r : {"\x05", "$", "?", "W", "SI"})
        for (const char* end : {"", "\r", "\r\n"}) allowed.append(QByteArray(r) + end);
    for (const bool yes : {true, false}) {
        QuickBench bench(
            {"--settings", "4800,n,8,1", "--mode", "poll", "--request", "W\\r", "--report-heard"});
        bench.fakes.prompts.yesNoAnswers = {true, yes, true};
        // After a No the designed search would run for minutes: it ends once it has begun.
        QTimer designed;
        QObject::connect(&designed, &QTimer::timeout, [&] {
            if (!bench.view.captions.filter(QStringLiteral("Marlume : Autosense : Trying")).isEmpty())
                bench.search.stop();
        });
        designed.start(100);
        bench.search.RunInterfaceWizard();

        bench.sim.process.waitForReadyRead(200);
        QByteArray wire;
        for (const QByteArray& line : bench.sim.process.readAllStandardOutput().split('\n'))
            if (line.startsWith("heard ")) wire += QByteArray::fromHex(line.mid(6));
        if (!yes) {
            EXPECT_TRUE(wire.isEmpty()) << wire.toHex().constData();
            EXPECT_TRUE(bench.offers().isEmpty());
            continue;
        }
        // Each request whole, the longest first, as CR and CR LF endings belong to the request before them.
        for (qsizetype at = 0; at < wire.size();) {
            qsizetype longest = 0;
            for (const QByteArray& r : allowed)
                if (wire.mid(at, r.size()) == r) longest = std::max(longest, r.size());
            ASSERT_GT(longest, 0) << "sent " << wire.mid(at, 8).toHex().constData();
            at += longest;
        }
        ASSERT_EQ(bench.offers().size(), 1);
        expectStored(bench.folder.path(),
                     {{"baud", 4800}, {"throwstring", -1}, {"outstring", "W"}, {"addcr", -1}});
        const QByteArray report = readFile(bench.folder.file(QStringLiteral("wizardreport.txt")));
        EXPECT_TRUE(report.contains("answered the request \"W\\r\"")) << report.constData();
    }
}
