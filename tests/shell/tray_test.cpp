// The tray icon's logic on a tray in memory. (The icon's menu, and a real StatusNotifierItem panel, are
// met on the real program in tests/e2e.)
#include "shell/c_sys_tray.h"
#include "tests/shell/fake_tray_icon.h"

#include <gtest/gtest.h>
#include <QSignalSpy>
#include <QWidget>

using namespace veltrane;
using veltrane::test::FakeTrayIcon;

namespace {

struct TrayFixture : ::testing::Test {
    FakeTrayIcon icon;
    QWidget window;
    CSysTray tray{icon};
    void SetUp() override {
        window.show();
        tray.setSourceWindow(&window);
    }
};

TEST_F(TrayFixture, TipKeepsTheWholeTextAndShowsAtMost63Characters) {
    const QString exact(63, QLatin1Char('a'));
    tray.ChangeToolTip(exact);
    EXPECT_EQ(tray.ToolTip(), exact);
    EXPECT_EQ(icon.tip, exact);

    const QString longer = exact + QStringLiteral("bcd");
    tray.setToolTip(longer);
    EXPECT_EQ(tray.ToolTip(), longer);
    EXPECT_EQ(icon.tip, exact);
}

TEST_F(TrayFixture, TipSetBeforeTheIconIsAddedIsShownWhenItIs) {
    tray.setToolTip(QStringLiteral("Marlume Veltrane"));
    tray.ChangeIcon(QStringLiteral("/opt/v/PN.ICO"));
    EXPECT_FALSE(icon.shown);
    tray.MinToSysTray();
    EXPECT_TRUE(icon.shown);
    EXPECT_EQ(icon.shownTip, QStringLiteral("Marlume Veltrane"));
    EXPECT_EQ(icon.iconFile, QStringLiteral("/opt/v/PN.ICO"));
    EXPECT_TRUE(window.isHidden());
}

TEST_F(TrayFixture, DoubleClickRestoresTheWindowOnlyWithTheDefaultOn) {
    QSignalSpy dbl(&tray, &CSysTray::LButtonDblClk);
    for (bool byDefault : {false, true}) {
        tray.setDefaultDblClk(byDefault);
        window.setWindowState(Qt::WindowMinimized);
        tray.MinToSysTray();
        icon.send(TrayMessage::LButtonDblClk);
        EXPECT_EQ(window.isHidden(), !byDefault);
        EXPECT_EQ(icon.shown, !byDefault);
    }
    EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(dbl.count(), 2);
}

TEST_F(TrayFixture, SingleActivationRestoresOnlyWhereTheTrayReportsNoDoubleClick) {
    for (bool doubleClicks : {true, false}) {
        icon.doubleClicks = doubleClicks;
        tray.MinToSysTray();
        icon.send(TrayMessage::LButtonUp);
        EXPECT_EQ(window.isHidden(), doubleClicks);
        EXPECT_EQ(icon.shown, doubleClicks);
    }
}

TEST_F(TrayFixture, MessageArrivingWhileOneIsHandledIsDropped) {
    QSignalSpy up(&tray, &CSysTray::LButtonUp);
    QObject::connect(&tray, &CSysTray::LButtonDown, [&] { icon.send(TrayMessage::LButtonUp); });
    icon.send(TrayMessage::LButtonDown);
    EXPECT_EQ(up.count(), 0);
    icon.send(TrayMessage::LButtonUp);
    EXPECT_EQ(up.count(), 1);
}

TEST_F(TrayFixture, WithoutANotificationAreaTheWindowGoesToTheTaskBarNotOutOfReach) {
    icon.hasTray = false;
    tray.MinToSysTray();
    EXPECT_FALSE(icon.shown);
    EXPECT_FALSE(window.isHidden());
    EXPECT_TRUE(window.windowState() & Qt::WindowMinimized);
}

}  // namespace
