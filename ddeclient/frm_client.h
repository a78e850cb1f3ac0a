#pragma once
// quorlink's one window: reads Veltrane's current weight on request or every 200 ms.
// Controls carry fixed object names, so that scripts driving the sample and the tests find them.

#include "feed_conversation.h"

#include <QWidget>

#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace quorlink {

class FrmClient final : public QWidget {
    Q_OBJECT
public:
    // beep sounds on every failed read; the system beep unless a test listens instead.
    explicit FrmClient(std::function<void()> beep = {}, QWidget* parent = nullptr);

    // One read, from the button or a timer tick.
    void read();

private:
    void onCheck1Clicked(bool ticked);

    QGroupBox* Frame1;
    QLineEdit* textServerApp;
    QLineEdit* texttopic;
    QLineEdit* weightlink;
    QGroupBox* Frame2;
    QLineEdit* weight;
    QPushButton* READveltrane;
    QCheckBox* Check1;
    QLabel* LabelError;
    QTimer* Timer1;

    FeedConversation m_conversation;
    std::function<void()> m_beep;
    bool m_reading = false;
};

}  // namespace quorlink
