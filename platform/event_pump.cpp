#include "platform/event_pump.h"

#include <QCoreApplication>

namespace veltrane {

void QtEventPump::processEvents() { QCoreApplication::processEvents(); }

}  // namespace veltrane
