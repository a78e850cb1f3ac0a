#include "shell/main_window.h"
#include "config/schema.h"
#include "config/settings.h"
#include "core/weighing_core.h"
#include "shell/c_sys_tray.h"
#include "shell/formlog.h"
#include "shell/weight_log_model.h"
#include "tests/shell/fake_tray_icon.h"
#include "tests/support/fakes.h"

#include <gtest/gtest.h>
#include <QLineEdit>
#include <QPushButton>

using namespace veltrane;
using veltrane::test::FakeServices;
using veltrane::test::FakeTimer;
using veltrane::test::FakeTrayIcon;
using veltrane::test::TempFolder;

namespace {

struct MainWindowTest : ::testing::Test {
    TempFolder folder;
    FakeServices fakes{folder.path()};
    Settings settings;
    FakeTrayIcon trayIcon;
    std::unique_ptr<MainWindow> window;

    void SetUp() override {
        createVersionDatabase(folder.file(QStringLiteral("config.mdb")));
        createSettingsDatabase(folder.file(QStringLiteral("scale.mdb")), folder.path());
        window = std::make_unique<MainWindow>(fakes.services, settings, trayIcon);
    }
    template <typename T>
    T* child(const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};

// Going to the tray with the port open and coming back on a double-click are met on the real program in
// tests/e2e; the start-up steps and their messages in the start-up sequence's own tests.
TEST_F(MainWindowTest, LoadSetsTheInstallationsIconAndTheClockBoxesKeepTime) {
    window->show();
    ASSERT_EQ(window->load(), StartupResult::Running);
    EXPECT_EQ(trayIcon.iconFile, folder.path() + QStringLiteral("PN.ICO"));  // weighbridge by default
    EXPECT_EQ(child<QLineEdit>("dat1")->text(), QStringLiteral("2026-03-14"));

    fakes.clock.advanceSeconds(3600);
    for (FakeTimer* t : fakes.timers.timers) {
        if (t->interval() == 10000 && t->isEnabled()) t->fire();
    }
    EXPECT_EQ(child<QLineEdit>("tim")->text(), QStringLiteral("10:30"));
}

TEST_F(MainWindowTest, NewWeighmentButtonFollowsStartOnButton) {
    auto db = Database::open(folder.file(QStringLiteral("scale.mdb")),
                             QString::fromLatin1(kSettingsDatabaseConnect));
    db->execute(QStringLiteral("update config set Startonbutton = -1"));
    window->show();
    ASSERT_EQ(window->load(), StartupResult::Running);
    trayIcon.send(TrayMessage::LButtonDblClk);
    EXPECT_TRUE(child<QPushButton>("newWeighment")->isVisible());
}

TEST_F(MainWindowTest, LogButtonBringsTheOpenViewerBackWithoutANewSearch) {
    window->show();
    window->btn(2)->click();
    Formlog* first = window->logViewer();
    ASSERT_NE(first, nullptr);
    const int generation = first->model().generation();
    window->btn(2)->click();
    EXPECT_EQ(window->logViewer(), first);
    EXPECT_EQ(first->model().generation(), generation);
    EXPECT_TRUE(fakes.prompts.log.isEmpty());
}

}  // namespace
