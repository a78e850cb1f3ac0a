#pragma once
// The broker feed's settings as the configuration window shows them: the group "Several weighbridges
// (MQTT)", which the window's feed tab hosts. A save refuses a value by naming its field and stores
// nothing.

#include "config/window/feed_group.h"

#include <optional>

class QCheckBox;
class QLineEdit;

namespace veltrane {

class BrokerFeedGroup : public FeedGroup {
    Q_OBJECT
public:
    explicit BrokerFeedGroup(QWidget* parent = nullptr);

    void showSettings(const FeedSettings& settings);
    // Copies the boxes into settings and checks the whole row as a save would store it.
    std::optional<FeedSettingsError> readSettings(FeedSettings& settings) const;

private:
    QCheckBox* m_on;
    QLineEdit* m_host;
    QLineEdit* m_port;
    QLineEdit* m_topic;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QCheckBox* m_tls;
};

}  // namespace veltrane
