#pragma once
// The live weight feed: a local request-reply channel with the design's three names (service, topic,
// item). Line protocol, UTF-8, one "\n"-ended line per message:
//   REQUEST <topic> <item>   -> DATA <text> | NACK <reason>
//   ADVISE <topic> <item>    -> DATA <text> now and at every change, until UNADVISE or disconnect
//   UNADVISE <topic> <item>  -> OK
// Unknown topic or item: "NACK no such topic" / "NACK no such item".

#include <QObject>
#include <QString>

#include <memory>

namespace veltrane {

class DdeServer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~DdeServer() override = default;
    // A topic exists only once set; setting an empty topic removes it.
    virtual void setTopic(const QString& topic) = 0;
    virtual QString topic() const = 0;
    // Publishes the current text of an item; advised clients receive it at once.
    virtual void setItem(const QString& item, const QString& text) = 0;
};

// QLocalServer named after the service, in the user's runtime folder, reachable by the same user only.
// Never blocks the caller on a slow client: each client has a bounded output queue; a client whose
// queue overflows is disconnected.
std::unique_ptr<DdeServer> createLocalDdeServer(const QString& service, QObject* parent = nullptr);

// Where the server of a service listens: $XDG_RUNTIME_DIR/<service>.dde, or /tmp/<service>-<uid>.dde
// when there is no runtime folder.
QString ddeSocketPath(const QString& service);

}  // namespace veltrane
