#include "config/window/broker_feed_group.h"

#include "config/settings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace veltrane {

BrokerFeedGroup::BrokerFeedGroup(QWidget* parent)
    : FeedGroup(QStringLiteral("Several weighbridges (MQTT)"), "brokerFeed", parent) {
    auto* grid = static_cast<QGridLayout*>(layout());
    m_on = new QCheckBox(QStringLiteral("Publish every weighment and the live weight to an MQTT broker"));
    m_on->setObjectName(QStringLiteral("mqttfeed"));
    grid->addWidget(m_on, 0, 0, 1, 2);
    m_host = addLine("mqtthost", QStringLiteral("Broker host"), 1);
    m_port = addLine("mqttport", QStringLiteral("Broker port"), 2);
    m_topic = addLine("mqtttopic", QStringLiteral("Topic"), 3);
    m_topic->setPlaceholderText(defaultMqttTopic());
    m_user = addLine("mqttuser", QStringLiteral("Broker user"), 4);
    m_password = addLine("mqttpassword", QStringLiteral("Broker password"), 5);
    m_password->setEchoMode(QLineEdit::Password);
    m_tls = new QCheckBox(
        QStringLiteral("TLS: the broker must show a certificate the system trusts, for this host"));
    m_tls->setObjectName(QStringLiteral("mqtttls"));
    grid->addWidget(m_tls, 6, 0, 1, 2);
    auto* about = new QLabel(QStringLiteral(
        "Weighments go out in serial-number order, at least once; while the broker is away they wait."));
    about->setTextFormat(Qt::PlainText);
    grid->addWidget(about, 7, 0, 1, 2);
}

void BrokerFeedGroup::showSettings(const FeedSettings& s) {
    m_on->setChecked(s.mqttfeed);
    m_host->setText(s.mqtthost);
    m_port->setText(QString::number(s.mqttport));
    // The default follows the computer's name, so it is shown as the hint rather than stored.
    m_topic->setText(s.mqtttopic == defaultMqttTopic() ? QString() : s.mqtttopic);
    m_user->setText(s.mqttuser);
    m_password->setText(s.mqttpassword);
    m_tls->setChecked(s.mqtttls);
}

std::optional<FeedSettingsError> BrokerFeedGroup::readSettings(FeedSettings& s) const {
    std::optional<FeedSettingsError> refusal;
    const auto port = portNumber(m_port, QStringLiteral("Broker port"), refusal);
    if (!port) return refusal;
    s.mqttfeed = m_on->isChecked();
    s.mqtthost = m_host->text().trimmed();
    s.mqttport = *port;
    s.mqtttopic = m_topic->text().trimmed();
    s.mqttuser = m_user->text();
    s.mqttpassword = m_password->text();
    s.mqtttls = m_tls->isChecked();
    return checkFeedSettings(s);
}

}  // namespace veltrane
