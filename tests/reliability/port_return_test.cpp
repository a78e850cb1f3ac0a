// The indicator comes back by itself: a pulled and replugged adapter (the simulator's pty closing and a
// new one appearing under the same link) is shown once and the port reopens with its settings. Real
// parts: the simulator on a pty, Qt SerialPort, the core. (That a port the operator closed stays closed
// is the port control's decision, met in its own tests.)

#include "core/weighment_cycle.h"
#include "tests/core/pty_core.h"

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

TEST(PortReturn, HundredUnplugsAndReplugsOnARealPty) {
    // Retries ten times as often as in the program.
    PtyCore in(0.1);
    in.app.setConfig(QStringLiteral("baud"), 19200);
    // At 19200 baud: a reopen with any other speed would read garbage, never the weight.
    ASSERT_TRUE(in.startSim({"--weight", "1234", "--rate", "50", "--settings", "19200,n,8,1"}));
    in.core.OpenSerialPort();
    ASSERT_TRUE(in.core.isPortOpen()) << in.fakes.prompts.log.join('|').toStdString();
    ASSERT_TRUE(pumpUntil([&] { return in.view.weight == QLatin1String("1234"); }, 30000));

    constexpr int kCycles = 100;
    for (int i = 0; i < kCycles; ++i) {
        in.view.portStatuses.clear();
        ASSERT_TRUE(in.sim.ok(QStringLiteral("unplug"))) << "cycle " << i;
        ASSERT_TRUE(pumpUntil([&] { return in.view.portStatus == QLatin1String("PORT OFF !"); }, 30000))
            << "cycle " << i;
        ASSERT_TRUE(in.sim.ok(QStringLiteral("replug"))) << "cycle " << i;
        ASSERT_TRUE(pumpUntil([&] { return in.view.weight == QLatin1String("1234"); }, 30000))
            << "cycle " << i;
        EXPECT_EQ(in.view.portStatuses, (QStringList{"PORT OFF !", "PORT ON"})) << "cycle " << i;
        EXPECT_EQ(in.view.portButton, QStringLiteral("Close port"));
    }
    EXPECT_EQ(in.fakes.prompts.log, QStringList{});
    EXPECT_EQ(in.port.settingsText(), QStringLiteral("19200,n,8,1"));

    // Weighing goes on: the truck leaves, the next one is served.
    ASSERT_TRUE(in.sim.ok(QStringLiteral("weight 0")));
    ASSERT_TRUE(pumpUntil([&] { return !in.core.cycle().served; }, 30000));
    ASSERT_TRUE(in.sim.ok(QStringLiteral("weight 2000")));
    ASSERT_TRUE(pumpUntil([&] { return in.observer.weights.contains(QStringLiteral("2000")); }, 30000));
    EXPECT_EQ(in.app.weightLogRows(), in.observer.weights.size());
}
