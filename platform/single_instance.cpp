#include "platform/single_instance.h"

#include "platform/socket_folder.h"

#include <QFile>
#include <QLocalSocket>

#include <sys/stat.h>
#include <unistd.h>

namespace veltrane {
namespace {

constexpr int kConnectMs = 1000;
constexpr int kAnswerMs = 5000;
constexpr qint64 kMaxRequest = 64;

enum class Probe { Nobody, Answered, Silent, NotOurs };

Probe askToShow(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return Probe::Nobody;
    // Another user's socket at our name is an attack or a mistake: never obey or remove it.
    if (!S_ISSOCK(st.st_mode) || st.st_uid != ::getuid()) return Probe::NotOurs;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(kConnectMs)) {
        // A socket file left by a copy that crashed: nobody listens, so it is ours to clear.
        QLocalServer::removeServer(path);
        return Probe::Nobody;
    }
    socket.write("show\n");
    socket.waitForBytesWritten(kAnswerMs);
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kAnswerMs)) return Probe::Silent;
    }
    return socket.readLine().trimmed() == "ok" ? Probe::Answered : Probe::Silent;
}

}  // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent), m_name(name), m_path(singleInstanceSocketPath(name)) {
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptClients);
}

SingleInstance::~SingleInstance() {
    if (m_server.isListening()) m_server.close();
}

SingleInstance::Start SingleInstance::start() {
    // Twice: two copies started at the same moment both find nobody, one of them wins the listen, and
    // the other then finds the winner.
    if (const QString problem = prepareSocketFolder(m_name); !problem.isEmpty()) {
        qWarning("single copy: %s; starting without the check", qPrintable(problem));
        return Start::First;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        switch (askToShow(m_path)) {
            case Probe::Answered:
                return Start::HandedOver;
            case Probe::Silent:
                return Start::NotAnswering;
            case Probe::NotOurs:
                qWarning("single copy: %s is not ours; starting without the check", qPrintable(m_path));
                return Start::First;
            case Probe::Nobody:
                break;
        }
        if (m_server.listen(m_path)) {
            ::chmod(QFile::encodeName(m_path).constData(), S_IRUSR | S_IWUSR);
            return Start::First;
        }
    }
    qWarning("single copy: cannot listen on %s: %s", qPrintable(m_path), qPrintable(m_server.errorString()));
    return Start::First;
}

void SingleInstance::acceptClients() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxRequest) socket->abort();
                return;
            }
            const QByteArray request = socket->readLine(kMaxRequest).trimmed();
            if (request != "show") {
                socket->abort();
                return;
            }
            socket->write("ok\n");
            socket->flush();
            socket->disconnectFromServer();
            Q_EMIT showRequested();
        });
    }
}

QString singleInstanceSocketPath(const QString& name) {
    return socketFolder(name) + QLatin1Char('/') + name + QStringLiteral(".instance");
}

}  // namespace veltrane
