#pragma once
// indicator-sim as a child process on a pty of its own: started with the test's arguments, driven by
// commands on its standard input, waited for by condition.

#include "tests/support/wait.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace veltrane::test {

class SimProcess {
public:
    // True once the simulator has printed its device, the first line it writes.
    bool start(const QStringList& args) {
        process.start(qEnvironmentVariable("VELTRANE_APP_DIR") + QStringLiteral("/indicator-sim"), args);
        if (!process.waitForStarted(10000) || !pumpUntil([&] { return process.canReadLine(); }, 30000))
            return false;
        device = QString::fromLocal8Bit(process.readLine()).trimmed();
        return true;
    }
    ~SimProcess() {
        process.terminate();
        if (!process.waitForFinished(5000)) process.kill();
        process.waitForFinished(5000);
    }
    // The answer line ("ok ..." or "error: ..."), or nothing when the simulator did not answer.
    QString command(const QString& line) {
        process.write(line.toUtf8() + '\n');
        if (!pumpUntil([&] { return process.canReadLine(); }, 30000)) return {};
        return QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    bool ok(const QString& line) { return command(line).startsWith(QLatin1String("ok")); }

    QString device;
    QProcess process;
};

}  // namespace veltrane::test
