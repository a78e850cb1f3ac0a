#include "platform/dde.h"
#include "platform/dde_protocol.h"
#include "platform/socket_folder.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <utility>

namespace veltrane {
namespace {

using Clock = std::chrono::steady_clock;

// Replies and updates a client has not yet taken. A client that lets this much pile up is not reading,
// and is dropped rather than let the program's memory grow with it.
constexpr qint64 kMaxQueuedBytes = qint64{64} * 1024;
// With no descriptor left, a waiting connection keeps the listener readable: look again after this
// rather than spin.
constexpr int kAcceptPauseMs = 250;

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// A socket file left by a program that crashed refuses connections; a live one answers. Only our own
// sockets are removed: a file of another user at our path is an attack or a mistake, not ours to delete.
// Empty when the path is free now; otherwise why the feed cannot have it.
QString claimPath(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return {};
    if (st.st_uid != ::getuid()) return path + QStringLiteral(" belongs to another user");
    if (!S_ISSOCK(st.st_mode)) return path + QStringLiteral(" is not a socket");
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(200)) return QStringLiteral("another program already serves ") + path;
    if (!QFile::remove(path)) return QStringLiteral("cannot remove the old socket ") + path;
    return {};
}

// An item's text travels as one line: a line break inside it would end the line early.
QByteArray oneLine(const QString& text) {
    QByteArray bytes = text.toUtf8();
    bytes.replace('\r', ' ').replace('\n', ' ');
    return bytes;
}

class LocalDdeServer final : public DdeServer {
public:
    LocalDdeServer(const QString& service, QObject* parent, const DdeServerLimits& limits)
        : DdeServer(parent), m_limits(limits) {
        const QString path = ddeSocketPath(service);
        QString problem = prepareSocketFolder(service);
        if (problem.isEmpty()) problem = claimPath(path);
        if (problem.isEmpty()) problem = listenOn(path);
        if (!problem.isEmpty()) {
            qWarning("live feed: %s", qPrintable(problem));
            const QString reason = QStringLiteral("Live feed off: ") + problem;
            QMetaObject::invokeMethod(
                this, [this, reason] { Q_EMIT unavailable(reason); }, Qt::QueuedConnection);
        }

        m_resumeAccepting.setSingleShot(true);
        connect(&m_resumeAccepting, &QTimer::timeout, this, [this] {
            if (m_notifier) m_notifier->setEnabled(true);
            acceptClients();
        });
        const auto shortest = std::min(m_limits.idleTimeout, m_limits.drainTimeout);
        m_sweep.setInterval(std::clamp<int>(int(shortest.count() / 4), 10, 30000));
        connect(&m_sweep, &QTimer::timeout, this, [this] { sweep(); });
    }

    ~LocalDdeServer() override {
        for (auto& [socket, client] : m_clients) socket->disconnect(this);
        m_clients.clear();
        m_notifier.reset();
        if (m_listener >= 0) {
            ::close(m_listener);
            // Only the socket this server made: another program may have taken the name meanwhile.
            struct stat st {};
            if (::lstat(m_path.constData(), &st) == 0 && st.st_ino == m_socketInode)
                ::unlink(m_path.constData());
        }
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
        Clock::time_point lastHeard;
        bool closing = false;  // dropped: nothing more is read or queued
        Clock::time_point closingSince;
        std::set<std::pair<QString, QString>> advised;  // (topic, item), lower case
    };

    // Empty when listening; otherwise why not.
    QString listenOn(const QString& path) {
        m_path = QFile::encodeName(path);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (std::size_t(m_path.size()) >= sizeof addr.sun_path)
            return QStringLiteral("the socket path %1 is too long").arg(path);
        std::memcpy(addr.sun_path, m_path.constData(), std::size_t(m_path.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return QStringLiteral("cannot make a socket: %1").arg(systemError(errno));
        struct stat st {};
        // Connecting needs only read and write, for the owner.
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
            ::chmod(m_path.constData(), S_IRUSR | S_IWUSR) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
            ::lstat(m_path.constData(), &st) != 0) {
            const int error = errno;
            ::close(fd);
            return QStringLiteral("cannot listen on %1: %2").arg(path, systemError(error));
        }
        m_listener = fd;
        m_socketInode = st.st_ino;
        m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { acceptClients(); });
        return {};
    }

    void acceptClients() {
        for (;;) {
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) return;
                // Out of descriptors or memory: the connection waits in the backlog until some are free.
                m_notifier->setEnabled(false);
                m_resumeAccepting.start(kAcceptPauseMs);
                return;
            }
            if (int(m_clients.size()) >= m_limits.maxClients) {
                ::close(fd);  // the client sees the connection end at once
                continue;
            }
            auto* socket = new QLocalSocket(this);
            if (!socket->setSocketDescriptor(fd)) {
                ::close(fd);
                delete socket;
                continue;
            }
            Client client;
            client.lastHeard = Clock::now();
            m_clients.emplace(socket, std::move(client));
            if (!m_sweep.isActive()) m_sweep.start();
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
            // Queued: a socket may disconnect inside a handler that is still using its state.
            connect(
                socket, &QLocalSocket::disconnected, this, [this, socket] { forget(socket); },
                Qt::QueuedConnection);
        }
    }

    void forget(QLocalSocket* socket) {
        if (m_clients.erase(socket) != 0) socket->deleteLater();
        if (m_clients.empty()) m_sweep.stop();
    }

    // Silent clients are dropped, except those linked to an item: a listener has nothing to say, and
    // one that stops reading loses its place when its queue overflows. Dropped clients that do not
    // take their last lines are cut off.
    void sweep() {
        const Clock::time_point now = Clock::now();
        for (auto& [socket, client] : m_clients) {
            if (client.closing) {
                if (now - client.closingSince >= m_limits.drainTimeout) {
                    socket->abort();
                    QMetaObject::invokeMethod(
                        this, [this, s = socket] { forget(s); }, Qt::QueuedConnection);
                }
            } else if (client.advised.empty() && now - client.lastHeard >= m_limits.idleTimeout) {
                drop(socket, client);
            }
        }
    }

    void readFrom(QLocalSocket* socket) {
        auto it = m_clients.find(socket);
        if (it == m_clients.end()) return;
        Client& client = it->second;
        const QByteArray chunk = socket->readAll();
        if (client.closing) return;
        client.lastHeard = Clock::now();
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

    // Nothing more is queued; the connection closes once the lines already queued are taken, so that the
    // client is not left the front half of a line (the system takes a write in pieces). A client that
    // does not take them within the drain time is cut off by the sweep.
    void drop(QLocalSocket* socket, Client& client) {
        client.closing = true;
        client.closingSince = Clock::now();
        client.advised.clear();
        socket->disconnectFromServer();
    }

    DdeServerLimits m_limits;
    int m_listener = -1;
    QByteArray m_path;
    ino_t m_socketInode = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_resumeAccepting;
    QTimer m_sweep;
    QString m_topic;
    QHash<QString, QString> m_items;  // lower-case item name -> text
    std::map<QLocalSocket*, Client> m_clients;
};

}  // namespace

std::unique_ptr<DdeServer> createLocalDdeServer(const QString& service, QObject* parent,
                                                const DdeServerLimits& limits) {
    return std::make_unique<LocalDdeServer>(service, parent, limits);
}

QString ddeSocketPath(const QString& service) {
    // Service names are matched without regard to case, as DDE names are.
    const QString name = service.toLower();
    return socketFolder(name) + QLatin1Char('/') + name + QStringLiteral(".dde");
}

}  // namespace veltrane
