#pragma once
// indicator-sim as a child process for the reliability tests: started on a link path, driven by
// commands on its standard input, waited for by condition.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

namespace veltrane::test {

inline bool waitFor(const std::function<bool()>& done, int ms = 30000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class SimProcess {
public:
    bool start(const QString& link, const QStringList& args) {
        m_process.start(qEnvironmentVariable("VELTRANE_APP_DIR") + QStringLiteral("/indicator-sim"),
                        args + QStringList{QStringLiteral("--link"), link});
        if (!m_process.waitForStarted(10000) || !waitFor([&] { return m_process.canReadLine(); }))
            return false;
        device = QString::fromLocal8Bit(m_process.readLine()).trimmed();
        return true;
    }
    ~SimProcess() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) m_process.kill();
        m_process.waitForFinished(5000);
    }
    // The answer line ("ok ..." or "error: ..."), or nothing when the simulator did not answer.
    QString command(const QString& line) {
        m_process.write(line.toUtf8() + '\n');
        if (!waitFor([&] { return m_process.canReadLine(); })) return {};
        return QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    bool ok(const QString& line) { return command(line).startsWith(QLatin1String("ok")); }

    QString device;

private:
    QProcess m_process;
};

}  // namespace veltrane::test
