#pragma once
// quorlink's side of Veltrane's live feed: one conversation over a local socket, speaking the feed's line
// protocol ("REQUEST <topic> <item>" -> "DATA <text>" | "NACK <reason>"). quorlink is a sample for
// integrators, so this is all it needs of the feed, written out rather than taken from Veltrane.

#include <QLocalSocket>
#include <QString>

#include <optional>

namespace quorlink {

// Where a service listens: $XDG_RUNTIME_DIR/<service>.dde, or /tmp/<service>-<uid>/<service>.dde without a
// runtime folder. Service names ignore case. Empty for a name that cannot be a file name.
QString feedSocketPath(const QString& service);

class FeedConversation {
public:
    // Each wait (connecting, the answer) gives up after timeoutMs; pending events keep running meanwhile,
    // user input excepted.
    explicit FeedConversation(int timeoutMs = 300) : m_timeoutMs(timeoutMs) {}

    // Connects to the service's server. A server run by another user is refused: whatever it answered
    // would only pretend to be the weight (refusal() then says so).
    bool open(const QString& service);
    // Why the last open refused the server it reached; empty when it did not.
    QString refusal() const { return m_refusal; }
    // The item's text, or nothing: refused, no answer in time, or no conversation.
    std::optional<QString> request(const QString& topic, const QString& item);
    void close();

private:
    bool waitFor(bool (*done)(QLocalSocket&));

    QLocalSocket m_socket;
    int m_timeoutMs;
    QString m_refusal;
};

}  // namespace quorlink
