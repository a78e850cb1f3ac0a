#pragma once
// SIGTERM, SIGINT and SIGHUP as a signal on the event loop: a desktop session that ends, a shutdown or
// a service manager stops the program the way the operator's Close does, so the serial port is closed,
// its lock file removed and the broker told "offline", instead of the process simply vanishing.

#include <QObject>

class QSocketNotifier;

namespace veltrane {

class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    // One per process: the handlers write to this object's pipe.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void terminationRequested();

private:
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace veltrane
