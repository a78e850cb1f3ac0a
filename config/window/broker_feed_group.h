#pragma once
// The broker feed's settings as the configuration window shows them: the group "Several weighbridges
// (MQTT)", which the window's feed tab hosts, and the load and save of table feeds it needs. A save
// refuses a value by naming its field and stores nothing.

#include "config/feed_settings.h"
#include "platform/prompts.h"

#include <QGroupBox>

#include <optional>

class QCheckBox;
class QLineEdit;

namespace veltrane {

class BrokerFeedGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit BrokerFeedGroup(QWidget* parent = nullptr);

    void showSettings(const FeedSettings& settings);
    // Copies the boxes into settings and checks the whole row as a save would store it.
    std::optional<FeedSettingsError> readSettings(FeedSettings& settings) const;
    void focusField(const QString& field);

    // Table feeds of the settings database; the defaults when it cannot be read.
    static FeedSettings load(const QString& settingsPath);
    // Writes the row; a failure is shown as a message and gives false.
    static bool save(const QString& settingsPath, const FeedSettings& settings, Prompts& prompts);

private:
    QLineEdit* addLine(const char* name, const QString& label, int row);

    QCheckBox* m_on;
    QLineEdit* m_host;
    QLineEdit* m_port;
    QLineEdit* m_topic;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QCheckBox* m_tls;
};

}  // namespace veltrane
