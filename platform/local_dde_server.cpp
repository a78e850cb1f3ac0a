#include "platform/dde.h"
#include "platform/dde_protocol.h"

#include <QByteArray>
#include <QFileInfo>
#include <QHash>
#include <QLocalServer>
#include <QLocalSocket>

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <utility>

namespace veltrane {
namespace {

// Replies and updates a client has not yet taken. A client that lets this much pile up is not reading,
// and is dropped rather than let the program's memory grow with it.
constexpr qint64 kMaxQueuedBytes = 64 * 1024;

// A socket file left by a program that crashed refuses connections; a live one answers. Only our own
// sockets are removed: a file of another user at our path is an attack or a mistake, not ours to delete.
bool clearStaleSocket(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return true;
    if (!S_ISSOCK(st.st_mode) || st.st_uid != ::getuid()) return false;
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(200)) return false;
    return QLocalServer::removeServer(path);
}

// An item's text travels as one line: a line break inside it would end the line early.
QByteArray oneLine(const QString& text) {
    QByteArray bytes = text.toUtf8();
    bytes.replace('\r', ' ').replace('\n', ' ');
    return bytes;
}

class LocalDdeServer final : public DdeServer {
public:
    LocalDdeServer(const QString& service, QObject* parent) : DdeServer(parent), m_server(this) {
        const QString path = ddeSocketPath(service);
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        if (!clearStaleSocket(path)) {
            qWarning("live feed: %s is in use or not ours; no feed is served", qPrintable(path));
        } else if (m_server.listen(path)) {
            // Qt leaves the owner's execute bit on; connecting needs only read and write.
            ::chmod(QFile::encodeName(path).constData(), S_IRUSR | S_IWUSR);
            connect(&m_server, &QLocalServer::newConnection, this, [this] { acceptClients(); });
        } else {
            qWarning("live feed: cannot listen on %s: %s", qPrintable(path),
                     qPrintable(m_server.errorString()));
        }
    }

    ~LocalDdeServer() override {
        for (auto& [socket, client] : m_clients) socket->disconnect(this);
        m_clients.clear();
    }

    void setTopic(const QString& topic) override { m_topic = topic; }
    QString topic() const override { return m_topic; }

    void setItem(const QString& item, const QString& text) override {
        const QString key = item.toLower();
        auto found = m_items.find(key);
        if (found != m_items.end() && found.value() == text) return;
        m_items.insert(key, text);
        if (m_topic.isEmpty()) return;
        const std::pair<QString, QString> link{m_topic.toLower(), key};
        const QByteArray line = "DATA " + oneLine(text) + '\n';
        // A client dropped here leaves the map only at the next event-loop turn, so the loop is safe.
        for (auto& [socket, client] : m_clients)
            if (client.advised.count(link) != 0) send(socket, client, line);
    }

private:
    struct Client {
        DdeLineSplitter lines;
        bool closing = false;                           // dropped: nothing more is read or queued
        std::set<std::pair<QString, QString>> advised;  // (topic, item), lower case
    };

    void acceptClients() {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            m_clients.emplace(socket, Client{});
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
            // Queued: a socket may disconnect inside a handler that is still using its state.
            connect(
                socket, &QLocalSocket::disconnected, this, [this, socket] { forget(socket); },
                Qt::QueuedConnection);
        }
    }

    void forget(QLocalSocket* socket) {
        if (m_clients.erase(socket) != 0) socket->deleteLater();
    }

    void readFrom(QLocalSocket* socket) {
        auto it = m_clients.find(socket);
        if (it == m_clients.end()) return;
        Client& client = it->second;
        const QByteArray chunk = socket->readAll();
        // answer() may drop the client; its state still lives until the queued forget() runs.
        client.lines.feed(std::string_view(chunk.constData(), static_cast<std::size_t>(chunk.size())),
                          [&](std::optional<std::string_view> line) {
                              if (line)
                                  answer(socket, client, *line);
                              else
                                  send(socket, client, "NACK line too long\n");
                              return !client.closing;
                          });
        // Hand the answers to the system now: a client that sends its request and shuts its side
        // (echo ... | socat) is seen as gone at the next read, and Qt drops what it had not yet written.
        if (!client.closing) socket->flush();
    }

    void answer(QLocalSocket* socket, Client& client, std::string_view line) {
        const std::optional<DdeCommand> command = parseDdeLine(line);
        if (!command) {
            send(socket, client, "NACK bad request\n");
            return;
        }
        const QString topic =
            QString::fromUtf8(command->topic.data(), static_cast<qsizetype>(command->topic.size()));
        const QString item =
            QString::fromUtf8(command->item.data(), static_cast<qsizetype>(command->item.size())).toLower();
        if (m_topic.isEmpty() || topic.compare(m_topic, Qt::CaseInsensitive) != 0) {
            send(socket, client, "NACK no such topic\n");
            return;
        }
        const auto found = m_items.constFind(item);
        if (found == m_items.constEnd()) {
            send(socket, client, "NACK no such item\n");
            return;
        }
        const std::pair<QString, QString> link{m_topic.toLower(), item};
        switch (command->verb) {
            case DdeVerb::Request:
                break;
            case DdeVerb::Advise:
                client.advised.insert(link);
                break;
            case DdeVerb::Unadvise:
                client.advised.erase(link);
                send(socket, client, "OK\n");
                return;
        }
        send(socket, client, "DATA " + oneLine(found.value()) + '\n');
    }

    // Queues whole lines only. The write never waits for the client: Qt sends from its buffer when the
    // socket can take more.
    void send(QLocalSocket* socket, Client& client, const QByteArray& line) {
        if (client.closing) return;
        if (socket->bytesToWrite() + line.size() > kMaxQueuedBytes) {
            drop(socket, client);
            return;
        }
        socket->write(line);
    }

    // Nothing more is queued; the connection closes once the lines already queued are taken. Cutting it
    // at once would leave the client the front half of a line (the system takes a write in pieces), and
    // a client that never reads costs no more than an idle one: one socket, a bounded buffer.
    void drop(QLocalSocket* socket, Client& client) {
        client.closing = true;
        client.advised.clear();
        socket->disconnectFromServer();
    }

    QLocalServer m_server;
    QString m_topic;
    QHash<QString, QString> m_items;  // lower-case item name -> text
    std::map<QLocalSocket*, Client> m_clients;
};

}  // namespace

std::unique_ptr<DdeServer> createLocalDdeServer(const QString& service, QObject* parent) {
    return std::make_unique<LocalDdeServer>(service, parent);
}

QString ddeSocketPath(const QString& service) {
    // Service names are matched without regard to case, as on the platform the design comes from.
    const QString name = service.toLower();
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + QLatin1Char('/') + name + QStringLiteral(".dde");
    return QStringLiteral("/tmp/") + name + QLatin1Char('-') + QString::number(::getuid()) +
           QStringLiteral(".dde");
}

}  // namespace veltrane
