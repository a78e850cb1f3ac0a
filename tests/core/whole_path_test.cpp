// The whole receive path with real parts for an indicator with a print button: the simulator on a pty,
// Qt SerialPort, the core, the CSV file and the weight log on disk. (Automatic serving on the same path
// is met by the reliability tests and by the whole program in tests/e2e.)

#include "tests/core/pty_core.h"

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

TEST(WholePath, PrintButtonModeServesEachPrint) {
    PtyCore in;
    ASSERT_TRUE(in.startSim({"--mode", "print", "--weight", "880"}));
    in.app.setConfig(QStringLiteral("AutosaveonStableWeight"), false);
    in.app.setConfig(QStringLiteral("saveonbutton"), true);
    in.app.setConfig(QStringLiteral("simpinterface"), false);
    in.app.setConfig(QStringLiteral("delimiter"), QStringLiteral("LF"));
    in.app.setConfig(QStringLiteral("weightstart"), 7);
    in.app.setConfig(QStringLiteral("weightend"), 13);
    in.core.OpenSerialPort();
    ASSERT_TRUE(in.core.isPortOpen()) << in.fakes.prompts.log.join('|').toStdString();
    EXPECT_EQ(in.view.portStatus, QStringLiteral("PORT ON"));
    in.core.setLastRecordTime(in.fakes.clock.now().addSecs(-60));

    ASSERT_TRUE(in.sim.ok(QStringLiteral("print")));
    ASSERT_TRUE(pumpUntil([&] { return in.observer.weights.size() == 1; }, 30000));
    EXPECT_EQ(in.observer.weights, QStringList{"880"});
    EXPECT_EQ(in.app.weightLogRows(), 1);

    // A second print at once is refused as too soon; 20 seconds later it is served.
    ASSERT_TRUE(in.sim.ok(QStringLiteral("weight 990")));
    ASSERT_TRUE(in.sim.ok(QStringLiteral("print")));
    ASSERT_TRUE(pumpUntil([&] { return in.observer.refusals == 1; }, 30000));
    in.fakes.clock.advanceSeconds(20);
    ASSERT_TRUE(in.sim.ok(QStringLiteral("print")));
    ASSERT_TRUE(pumpUntil([&] { return in.observer.weights.size() == 2; }, 30000));
    EXPECT_EQ(in.observer.weights, (QStringList{"880", "990"}));
    EXPECT_TRUE(in.csv().startsWith("Weight,Datetime\r\n990,2026-03-14 09:30:20\r\n"));
    EXPECT_EQ(in.app.weightLogRows(), 2);
    EXPECT_TRUE(in.fakes.prompts.log.isEmpty()) << in.fakes.prompts.log.join('|').toStdString();
}
