#pragma once
// The web feed's settings as the configuration window shows them on its tab "Web feed": on or off,
// the address and port it listens on, the token clients must show, and the
// origins whose pages may read it. A save refuses a value by
// naming its field (the caption beside it) and stores nothing.

#include "config/window/feed_group.h"

#include <optional>

class QCheckBox;
class QLineEdit;

namespace veltrane {

class WebFeedGroup : public FeedGroup {
    Q_OBJECT
public:
    explicit WebFeedGroup(QWidget* parent = nullptr);

    void showSettings(const FeedSettings& settings);
    // Copies the boxes into settings and checks the whole row as a save would store it.
    std::optional<FeedSettingsError> readSettings(FeedSettings& settings) const;

private:
    QCheckBox* m_on;
    QLineEdit* m_address;
    QLineEdit* m_port;
    QLineEdit* m_token;
    QLineEdit* m_origins;
};

}  // namespace veltrane
