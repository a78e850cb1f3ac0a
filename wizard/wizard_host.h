#pragma once
// What the protocol search needs from the main window and the weighing core: settings, services, the
// window's title and port box, the weight box, the wait that keeps events running, and the decoder
// state the two share. CoreWizardHost provides it from the weighing core; tests may provide their own.

#include "config/settings.h"
#include "core/main_view.h"
#include "platform/services.h"

#include <QByteArray>
#include <QString>

namespace veltrane {

class WizardHost {
public:
    virtual ~WizardHost() = default;
    virtual Settings& settings() = 0;
    virtual Services& services() = 0;
    virtual MainView& view() = 0;
    // weightdata
    virtual void setWeightData(const QString& text) = 0;
    // Delay(ms), then let events run until the delay timer has ticked.
    virtual void wait(int ms) = 0;

    // Decoder state, shared as the design shares it: the wizard reads and empties it in place.
    virtual QByteArray& lastRecord() = 0;
    virtual QByteArray& receiveBuffer() = 0;
    virtual QByteArray& searchLog() = 0;
    virtual bool& searchRunning() = 0;
};

}  // namespace veltrane
