#pragma once
// The live weight feed: a local request-reply channel named as DDE names a link (service, topic,
// item). Line protocol, UTF-8, one "\n"-ended line per message:
//   REQUEST <topic> <item>   -> DATA <text> | NACK <reason>
//   ADVISE <topic> <item>    -> DATA <text> now and at every change, until UNADVISE or disconnect
//   UNADVISE <topic> <item>  -> OK
// Unknown topic or item: "NACK no such topic" / "NACK no such item".

#include <QObject>
#include <QString>

#include <chrono>
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

Q_SIGNALS:
    // The feed cannot be served (its name is taken by another program or user, or the socket cannot be
    // made), with a text for the operator. Sent once, from the event loop, so that whoever builds the
    // server can connect to it first.
    void unavailable(const QString& reason);
};

// Limits that keep a misbehaving client from costing the program more than a bounded share.
struct DdeServerLimits {
    // One more connection is accepted and closed at once.
    int maxClients = 64;
    // A client that sends nothing for this long and holds no advise is dropped.
    std::chrono::milliseconds idleTimeout = std::chrono::minutes(10);
    // A dropped client may take the lines already queued for it this long; then the connection is cut.
    std::chrono::milliseconds drainTimeout = std::chrono::seconds(10);
};

// A Unix socket named after the service, reachable by the same user only (see ddeSocketPath). Never
// blocks the caller on a slow client: each client has a bounded output queue; a client whose queue
// overflows is dropped. Running out of file descriptors delays new connections, never ends the feed.
std::unique_ptr<DdeServer> createLocalDdeServer(const QString& service, QObject* parent = nullptr,
                                                const DdeServerLimits& limits = {});

// Where the server of a service listens: $XDG_RUNTIME_DIR/<service>.dde, or without a runtime folder
// /tmp/<service>-<uid>/<service>.dde, in a folder that only the user may enter (made or checked by the
// server at start).
QString ddeSocketPath(const QString& service);

}  // namespace veltrane
