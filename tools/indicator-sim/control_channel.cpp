#include "tools/indicator-sim/control_channel.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>

#include <unistd.h>
#include <cstdio>

namespace veltrane::sim {

ControlChannel::ControlChannel(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)) {}

ControlChannel::~ControlChannel() {
    if (m_server) {
        m_server->close();
        QFile::remove(m_socketPath);
    }
}

void ControlChannel::listenOnStdin() {
    m_stdin = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(m_stdin.get(), &QSocketNotifier::activated, this, &ControlChannel::readStdin);
}

void ControlChannel::readStdin() {
    char buf[1024];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
        // End of input (a script that only starts the simulator): keep running, stop listening.
        m_stdin->setEnabled(false);
        return;
    }
    m_stdinBuffer.append(buf, n);
    qsizetype nl;
    while ((nl = m_stdinBuffer.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_stdinBuffer.left(nl));
        m_stdinBuffer.remove(0, nl + 1);
        const QString reply = m_handler(line);
        std::fprintf(stdout, "%s\n", reply.toLocal8Bit().constData());
        std::fflush(stdout);
    }
}

bool ControlChannel::listenOnSocket(const QString& given, QString* error) {
    // A bare name would land in the temporary folder; the user means the path as written.
    const QString path = QFileInfo(given).absoluteFilePath();
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        // Only a socket left by an earlier run may be replaced.
        if (info.isSymLink() || info.isFile() || info.isDir()) {
            if (error) *error = QStringLiteral("%1 exists and is not a socket; not replacing it").arg(path);
            return false;
        }
        QLocalServer::removeServer(path);
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path)) {
        if (error) *error = QStringLiteral("cannot listen on %1: %2").arg(path, m_server->errorString());
        return false;
    }
    m_socketPath = m_server->fullServerName();
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, client, [this, client] {
                while (client->canReadLine()) {
                    const QString line = QString::fromUtf8(client->readLine()).trimmed();
                    client->write(m_handler(line).toUtf8() + '\n');
                    client->flush();
                }
            });
        }
    });
    return true;
}

}  // namespace veltrane::sim
