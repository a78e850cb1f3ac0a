#include "shell/main_buttons.h"
#include "tests/shell/scripted_gate.h"
#include "tests/support/fakes.h"

#include <gtest/gtest.h>

using namespace veltrane;
using veltrane::test::ScriptedGate;

namespace {

struct RecordingHost final : ButtonHost {
    void showConfiguration() override { calls << "configure"; }
    void runWizard() override { calls << "wizard"; }
    void showLog() override { calls << "log"; }
    void closeMainWindow() override { calls << "close"; }
    void minimise() override { calls << "minimise"; }
    bool isPortOpen() override { return portOpen; }
    void closePort() override {
        calls << "closePort";
        portOpen = false;
    }
    void openSerialPort() override {
        calls << "openSerialPort";
        portOpen = openSucceeds;
    }
    void showPortState() override { calls << "showPortState"; }
    QStringList calls;
    bool portOpen = false;
    bool openSucceeds = true;
};

struct Buttons : ::testing::Test {
    veltrane::test::FakePrompts prompts;
    ScriptedGate gate{prompts.log};
    RecordingHost host;
    MainButtons buttons{prompts, gate, host};
};

TEST_F(Buttons, PasswordGatesConfigureWizardCloseAndPortEveryTime) {
    struct Case {
        int index;
        bool gated;
        const char* action;
    };
    const Case cases[] = {{0, true, "configure"}, {1, true, "wizard"},    {2, false, "log"},
                          {3, true, "close"},     {4, false, "minimise"}, {5, true, "openSerialPort"}};
    for (const Case& c : cases) {
        for (bool granted : {false, true}) {
            gate.answer = granted;
            host.calls.clear();
            prompts.log.clear();
            prompts.yesNoAnswers = {true};
            buttons.click(c.index);
            EXPECT_EQ(prompts.log.count(QStringLiteral("password")), c.gated ? 1 : 0) << "button " << c.index;
            const bool runs = granted || !c.gated;
            EXPECT_EQ(host.calls.contains(QString::fromLatin1(c.action)), runs) << "button " << c.index;
            if (!runs) {
                EXPECT_TRUE(host.calls.isEmpty());
            }
            host.portOpen = false;
        }
    }
}

TEST_F(Buttons, CloseAsksFirstAndNoChangesNothing) {
    prompts.yesNoAnswers = {false};
    buttons.click(MainButtons::Close);
    EXPECT_EQ(prompts.log, (QStringList{"password", "ask: Are you sure that you want to close Veltrane?"}));
    EXPECT_TRUE(host.calls.isEmpty());
}

TEST_F(Buttons, PortButtonClosesWithoutReloadOrOpensAndShowsTheState) {
    host.portOpen = true;
    buttons.click(MainButtons::Port);
    buttons.click(MainButtons::Port);
    EXPECT_EQ(host.calls, QStringList({"closePort", "openSerialPort", "showPortState"}));
}

}  // namespace
