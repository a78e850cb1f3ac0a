#pragma once
// Where commands come from: lines on standard input and, optionally, a local socket that scripts and
// tests connect to (one command per line, one answer line each).

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QSocketNotifier;

namespace veltrane::sim {

class ControlChannel : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<QString(const QString& line)>;
    explicit ControlChannel(Handler handler, QObject* parent = nullptr);
    ~ControlChannel() override;

    void listenOnStdin();
    bool listenOnSocket(const QString& path, QString* error);

private:
    void readStdin();

    Handler m_handler;
    std::unique_ptr<QSocketNotifier> m_stdin;
    QByteArray m_stdinBuffer;
    QLocalServer* m_server = nullptr;
    QString m_socketPath;
};

}  // namespace veltrane::sim
