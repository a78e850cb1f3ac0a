#include "shell/main_buttons.h"

#include "platform/prompts.h"
#include "shell/password.h"

namespace veltrane {

QString MainButtons::caption(int index) {
    static const char* captions[] = {"Configure", "Wizard", "Log", "Close", "Minimize", "Open Port"};
    return index >= 0 && index < Count ? QString::fromLatin1(captions[index]) : QString();
}

bool MainButtons::needsPassword(int index) {
    return index == Configure || index == Wizard || index == Close || index == Port;
}

void MainButtons::click(int index) {
    if (index < 0 || index >= Count) return;
    // Each click asks again: a valid entry is never remembered for the next action.
    if (needsPassword(index) && !m_password.askAccess()) return;
    switch (index) {
        case Configure:
            m_host.showConfiguration();
            break;
        case Wizard:
            m_host.runWizard();
            break;
        case Log:
            m_host.showLog();
            break;
        case Close:
            if (m_prompts.askYesNo(QStringLiteral("Are you sure that you want to close Veltrane?")))
                m_host.closeMainWindow();
            break;
        case Minimize:
            m_host.minimise();
            break;
        case Port:
            togglePort();
            break;
        default:
            break;
    }
}

void MainButtons::togglePort() {
    if (m_host.isPortOpen()) {
        m_host.closePort();
        return;
    }
    m_host.openSerialPort();
    // A failed opening leaves the caption to whoever opens next; the button says what it can do now.
    m_host.showPortState();
}

}  // namespace veltrane
