// The serial port's states driven through the in-process port: opening with retries, the operator's
// close, a vanished device shown once and retried quietly, and the wizard's search owning the port.
#include "core/port_control.h"
#include "tests/support/fake_view.h"
#include "tests/support/fakes.h"

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

struct Port : ::testing::Test {
    void lose() {
        fakes.port.close();
        Q_EMIT fakes.port.deviceLost(QStringLiteral("gone"));
    }
    void open() {
        control.configure(3, QStringLiteral("19200,n,8,1"));
        ASSERT_TRUE(control.openForWeighing());
        view.portStatuses.clear();
    }
    FakeServices fakes;
    FakeView view;
    int losses = 0;
    PortControl control{fakes.services, view, [this] { ++losses; }};
    FakeTimer& retry = static_cast<FakeTimer&>(control.retryTimer());
};

TEST_F(Port, OpensAfterRetriesOrFailsAfter21TriesShowingItClosed) {
    control.configure(3, QStringLiteral("19200,n,8,1"));
    EXPECT_EQ(view.portNumber, QStringLiteral("3"));
    fakes.port.failOpens = 20;
    EXPECT_TRUE(control.openForWeighing());
    EXPECT_EQ(fakes.port.openAttempts, 21);
    EXPECT_EQ(fakes.events.calls, 21) << "events run once after the first try and before each retry";
    EXPECT_EQ(control.state(), PortControl::State::Weighing);

    control.closeByOperator();
    EXPECT_EQ(view.portButton, QStringLiteral("Open port"));
    fakes.port.failOpens = -1;
    fakes.port.openAttempts = 0;
    view.portButton = QStringLiteral("Open Port");
    EXPECT_FALSE(control.openForWeighing());
    EXPECT_EQ(fakes.port.openAttempts, 21);
    EXPECT_EQ(view.portStatuses.last(), QStringLiteral("PORT OFF !"));
    EXPECT_EQ(view.portButton, QStringLiteral("Open port"));
    EXPECT_EQ(control.state(), PortControl::State::Closed);
    EXPECT_EQ(losses, 1) << "the last weight goes with the port";

    // A save's reopening that fails is the same; one that works is weighing again.
    fakes.port.failOpens = 0;
    open();
    fakes.port.failOpens = -1;
    EXPECT_FALSE(control.reopenWithRetries());
    EXPECT_EQ(view.portButton, QStringLiteral("Open port"));
    EXPECT_EQ(view.portStatuses.last(), QStringLiteral("PORT OFF !"));
    EXPECT_EQ(losses, 2);
    fakes.port.failOpens = 0;
    EXPECT_TRUE(control.reopenWithRetries());
    EXPECT_EQ(control.state(), PortControl::State::Weighing);
}

TEST_F(Port, LossIsShownOnceAndRetriedQuietlyWithTheSameSettings) {
    open();
    lose();
    Q_EMIT fakes.port.deviceLost(QStringLiteral("gone again"));  // a second report of the same loss
    EXPECT_EQ(view.portStatuses, QStringList{"PORT OFF !"});
    EXPECT_EQ(view.portButton, QStringLiteral("Open port"));
    EXPECT_EQ(losses, 1);
    ASSERT_TRUE(retry.isEnabled());

    fakes.port.failOpens = 3;
    for (int i = 0; i < 3; ++i) retry.fire();
    EXPECT_FALSE(control.isOpen());
    EXPECT_EQ(view.portStatuses, QStringList{"PORT OFF !"}) << "failed tries show nothing";
    EXPECT_EQ(fakes.prompts.log, QStringList{}) << "and ask nothing";
    retry.fire();
    EXPECT_TRUE(control.isOpen());
    EXPECT_FALSE(retry.isEnabled());
    EXPECT_EQ(fakes.port.settingsText(), QStringLiteral("19200,n,8,1"));
    EXPECT_EQ(fakes.port.portNumber(), 3);
    EXPECT_EQ(view.portStatuses, (QStringList{"PORT OFF !", "PORT ON"}));
    EXPECT_EQ(view.portButton, QStringLiteral("Close port"));
}

TEST_F(Port, TheOperatorAndTheSearchTakeThePortFromTheRetries) {
    // Closed by the operator while lost, or before a late report of a loss: no retry.
    open();
    lose();
    control.closeByOperator();
    EXPECT_FALSE(retry.isEnabled());
    open();
    control.closeByOperator();
    Q_EMIT fakes.port.deviceLost(QStringLiteral("late report"));
    EXPECT_FALSE(retry.isEnabled());

    // Opening by hand while lost: the opening's own result stands.
    open();
    lose();
    control.stopRetrying();
    EXPECT_FALSE(retry.isEnabled());
    EXPECT_EQ(control.state(), PortControl::State::Closed);

    // The search drives the port itself: a search started while retrying, or a loss during it, is
    // the search's, and weighing takes the port back only by opening it.
    open();
    lose();
    control.beginSearch(2);
    EXPECT_FALSE(retry.isEnabled());
    EXPECT_EQ(fakes.port.portNumber(), 2);
    control.setSearchSettings(QStringLiteral("2400,n,8,1"));
    ASSERT_TRUE(control.openForSearch());
    control.showSearchState();
    EXPECT_EQ(view.portStatuses.last(), QStringLiteral("PORT ON"));
    lose();
    EXPECT_FALSE(retry.isEnabled());
    control.endSearch();
    Q_EMIT fakes.port.deviceLost(QStringLiteral("after the search"));
    EXPECT_FALSE(retry.isEnabled()) << "closed when the search ended: nothing to retry";
    EXPECT_EQ(losses, 3);

    // A search that ends with the port open hands it to weighing: a loss is reported and retried.
    control.beginSearch(2);
    ASSERT_TRUE(control.openForSearch());
    control.endSearch();
    EXPECT_EQ(control.state(), PortControl::State::Weighing);
    lose();
    EXPECT_TRUE(retry.isEnabled());
    EXPECT_EQ(losses, 4);
}

}  // namespace
