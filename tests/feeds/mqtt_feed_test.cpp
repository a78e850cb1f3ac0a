#include "feeds/mqtt/mqtt_feed.h"
#include "tests/core/core_fixture.h"
#include "tests/support/wait.h"

#include <QProcess>
#include <QTcpServer>

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

TEST(MqttFeed, SaysOnceThatTheBrokerIsAwayAndAgainWhenItIsBack) {
    AppFolder app;
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const int port = probe.serverPort();
    probe.close();

    QStringList notes;
    MqttFeed feed(app.settingsPath(), [&notes](const QString& note) { notes << note; });
    FeedSettings settings;
    settings.mqttfeed = true;
    settings.mqtthost = QStringLiteral("localhost");  // looked up, then each of its addresses tried
    settings.mqttport = port;
    settings.mqtttopic = QStringLiteral("test/site");
    feed.apply(settings);
    ASSERT_TRUE(pumpUntil([&] { return !notes.isEmpty(); }));
    EXPECT_TRUE(notes[0].startsWith(QStringLiteral("Broker localhost:%1 not reachable (").arg(port)))
        << notes[0].toStdString();
    pumpUntil([] { return false; }, 3500);  // the attempts after 1 s and 2 s more fail as well
    EXPECT_EQ(notes.size(), 1);

    QProcess broker;  // without a configuration file it listens on this computer only
    broker.start(QStringLiteral("mosquitto"), {QStringLiteral("-p"), QString::number(port)});
    ASSERT_TRUE(broker.waitForStarted());
    EXPECT_TRUE(pumpUntil([&] { return notes.size() == 2; }, 20000));
    EXPECT_EQ(notes.value(1), QStringLiteral("Broker localhost:%1 connected again.").arg(port));
    feed.apply(FeedSettings{});
    broker.terminate();
    broker.waitForFinished();
}
