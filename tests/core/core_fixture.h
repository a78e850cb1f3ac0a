#pragma once
// What the core's tests share: a main window that records its boxes, an application folder with real
// database files, an observer of what was served, and a child process that holds a lock on a file.

#include "config/schema.h"
#include "config/settings.h"
#include "core/weighing_core.h"
#include "platform/database.h"
#include "tests/support/fake_view.h"
#include "tests/support/fakes.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

namespace veltrane::test {

// An application folder with scale.mdb (default row, output folder = an "out/" subfolder) and the
// export template, as the creation tool makes them. The output folder holds a file: an empty one reads
// as missing.
struct AppFolder {
    AppFolder() {
        QDir().mkpath(outFolder());
        QFile(outFolder() + QStringLiteral("keep.txt")).open(QIODevice::WriteOnly);
        createSettingsDatabase(settingsPath(), outFolder());
        createExportTemplate(folder.file(QStringLiteral("veltrane.mdb")));
    }
    QString path() const { return folder.path(); }
    QString outFolder() const { return folder.file(QStringLiteral("out/")); }
    QString settingsPath() const { return folder.file(QStringLiteral("scale.mdb")); }
    std::unique_ptr<Database> settingsDb() const {
        return Database::open(settingsPath(), QString::fromLatin1(kSettingsDatabaseConnect));
    }
    void setConfig(const QString& column, const QVariant& value) const {
        settingsDb()->execute(QStringLiteral("update config set %1 = ?").arg(column), {value});
    }
    int weightLogRows() const {
        auto rs = settingsDb()->openRecordSet(QStringLiteral("select * from weightlog"));
        return rs->recordCount();
    }
    TempFolder folder;
};

// What the core served and refused, in order.
struct Served final : CoreObserver {
    void served(const QString& w) override { weights << w; }
    void refused() override { ++refusals; }
    QStringList weights;
    int refusals = 0;
};

// Another program holding an advisory lock on a file until release() (or destruction).
class LockHolder {
public:
    enum Kind { Flock, Fcntl };
    LockHolder(const QString& path, Kind kind) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        const QByteArray native = QFile::encodeName(path);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            const int fd = ::open(native.constData(), O_RDWR);
            bool locked = false;
            if (kind == Flock) {
                locked = fd >= 0 && ::flock(fd, LOCK_EX) == 0;
            } else {
                struct flock lk {};
                lk.l_type = F_WRLCK;
                lk.l_whence = SEEK_SET;
                locked = fd >= 0 && ::fcntl(fd, F_SETLKW, &lk) == 0;
            }
            const char c = locked ? 'y' : 'n';
            if (::write(ready[1], &c, 1) != 1) ::_exit(1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char c = 0;
        if (::read(ready[0], &c, 1) == 1) m_locked = c == 'y';
        ::close(ready[0]);
    }
    ~LockHolder() { release(); }
    bool locked() const { return m_locked; }
    void release() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    bool m_locked = false;
};

}  // namespace veltrane::test
