#include "feed_conversation.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

namespace quorlink {
namespace {

// Anything longer is not a weight; giving up beats waiting for a line that never ends.
constexpr qint64 kMaxReply = qint64{64} * 1024;

bool isName(const QString& text) {
    if (text.isEmpty()) return false;
    for (const QChar c : text)
        if (c.isSpace() || c.category() == QChar::Other_Control) return false;
    return true;
}

}  // namespace

QString feedSocketPath(const QString& service) {
    if (service.isEmpty() || service.contains(QLatin1Char('/')) || service.contains(QChar())) return {};
    const QString name = service.toLower();
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + QLatin1Char('/') + name + QStringLiteral(".dde");
    return QStringLiteral("/tmp/%1-%2/%1.dde").arg(name).arg(::getuid());
}

bool FeedConversation::open(const QString& service) {
    close();
    m_refusal.clear();
    const QString path = feedSocketPath(service);
    if (path.isEmpty()) return false;
    m_socket.connectToServer(path);
    if (!waitFor([](QLocalSocket& s) { return s.state() == QLocalSocket::ConnectedState; })) return false;
    // The kernel's word for who listens there, not the file's owner, which says nothing about the
    // program that answers.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(int(m_socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
        peer.uid != ::getuid()) {
        m_refusal = QStringLiteral("Error : the server at %1 is run by another user (uid %2), not read")
                        .arg(path)
                        .arg(peer.uid);
        close();
        return false;
    }
    return true;
}

std::optional<QString> FeedConversation::request(const QString& topic, const QString& item) {
    // A blank or line break inside a name would change the request's meaning; such a name is not served.
    if (m_socket.state() != QLocalSocket::ConnectedState || !isName(topic) || !isName(item))
        return std::nullopt;
    m_socket.readAll();  // an answer that came after an earlier request gave up
    m_socket.write("REQUEST " + topic.toUtf8() + ' ' + item.toUtf8() + '\n');
    if (!waitFor([](QLocalSocket& s) { return s.canReadLine() || s.bytesAvailable() > kMaxReply; }))
        return std::nullopt;
    if (!m_socket.canReadLine()) return std::nullopt;
    QByteArray line = m_socket.readLine();
    line.chop(1);
    if (line.endsWith('\r')) line.chop(1);
    if (!line.startsWith("DATA ")) return std::nullopt;
    return QString::fromUtf8(line.mid(5));
}

void FeedConversation::close() {
    m_socket.abort();
}

bool FeedConversation::waitFor(bool (*done)(QLocalSocket&)) {
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&m_socket, &QLocalSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&m_socket, &QLocalSocket::readyRead, &loop, &QEventLoop::quit);
    QObject::connect(&m_socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&m_socket, &QLocalSocket::errorOccurred, &loop, &QEventLoop::quit);
    deadline.start(m_timeoutMs);
    while (!done(m_socket) && deadline.isActive() && m_socket.state() != QLocalSocket::UnconnectedState)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return done(m_socket);
}

}  // namespace quorlink
