#pragma once
// Another program run to its end, as a script would run it: its exit code and what it wrote.

#include <QProcess>
#include <QStringList>

namespace veltrane::test {

struct ProgramRun {
    int exitCode = -1;  // also when the program did not start or did not end by itself
    QString out;
    QString err;
};

inline ProgramRun runProgram(const QString& program, const QStringList& args, const QByteArray& input = {},
                             const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(30000)) return {};
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

// A program the build put in the application folder.
inline QString appProgram(const char* name) {
    return qEnvironmentVariable("VELTRANE_APP_DIR") + QLatin1Char('/') + QLatin1String(name);
}

}  // namespace veltrane::test
