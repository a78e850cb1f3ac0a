#include "platform/event_pump.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace veltrane {

void QtEventPump::processEvents() {
    QCoreApplication::processEvents();
}

void QtEventPump::waitForEvents() {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace veltrane
