#include "core/weight_outputs.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <exception>

namespace veltrane {
namespace {

// Closes what it holds whatever path leaves the function.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int reset() {
        int rc = 0;
        if (m_fd >= 0) rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
};

bool writeAll(int fd, const QByteArray& data) {
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

mode_t newFileMode(const QByteArray& path) {
    struct stat st {};
    if (::stat(path.constData(), &st) == 0) return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

WeightOutputs::WeightOutputs(const Settings& settings, Services& services, Voice& voice)
    : m_settings(settings), m_services(services), m_voice(voice) {}

WeightOutputs::~WeightOutputs() = default;

QByteArray WeightOutputs::csvContent(const QString& typeCode, const QString& weightText,
                                     const QString& dateTimeText) {
    QByteArray line;
    if (typeCode == QLatin1String("2")) line = "Weight,Datetime\r\n";
    line += weightText.toLatin1() + ',' + dateTimeText.toLatin1() + "\r\n";
    return line;
}

bool WeightOutputs::lockedByAnotherProgram(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    Fd fd(::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid()) return false;  // no file yet, nothing to hold a lock
    // fcntl record locks: F_GETLK reports a conflicting lock of another process, read or write.
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    query.l_start = 0;
    query.l_len = 0;
    if (::fcntl(fd.get(), F_GETLK, &query) == 0 && query.l_type != F_UNLCK) return true;
    // flock locks: an exclusive try fails while anyone else holds one; released again at once.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK;
    ::flock(fd.get(), LOCK_UN);
    return false;
}

bool WeightOutputs::replaceFile(const QString& path, const QByteArray& content) {
    // A link is kept and the file it leads to replaced: the installed application folder links its
    // files into /var/lib/veltrane, and an integrator may link the output file where the ERP reads.
    const QFileInfo link(path);
    const QFileInfo info(link.isSymLink() ? link.symLinkTarget() : path);
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    QByteArray temp = folder + "/." + QFile::encodeName(info.fileName()) + ".XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.valid()) return false;
    bool ok =
        ::fchmod(fd.get(), newFileMode(target)) == 0 && writeAll(fd.get(), content) && ::fsync(fd.get()) == 0;
    ok = fd.reset() == 0 && ok;
    if (ok) ok = ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        ::unlink(temp.constData());
        return false;
    }
    // The rename itself must reach the disk before the serving counts as written.
    Fd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
    return true;
}

bool WeightOutputs::WriteCsvFile(const QString& weightText, const QString& dateTimeText) {
    const QString path = m_settings.csvFilePath;
    if (path.isEmpty() || lockedByAnotherProgram(path)) return false;
    if (!replaceFile(path, csvContent(m_settings.outputTypeCode, weightText, dateTimeText))) return false;
    if (m_appendStatus) m_appendStatus(QStringLiteral("   CSV file updated."));
    return true;
}

void WeightOutputs::writeExportDatabase(const QString& weightText) {
    auto db = Database::open(m_settings.mdbFilePath, QString());
    auto rs = db->openRecordSet(QStringLiteral("select * from weightlog"));
    if (rs->recordCount() == 0) {
        rs->addNew();
    } else {
        rs->moveFirst();
        rs->edit();
    }
    rs->setField(QStringLiteral("Datetime"), generalDate(m_services.clock.now()));
    rs->setField(QStringLiteral("weight"), weightText);
    rs->update();
    if (m_appendStatus) m_appendStatus(QStringLiteral("   MDB file updated."));
}

qint64 WeightOutputs::appendWeightLog(const QString& weightText, const QString& dateTimeText) {
    try {
        if (!m_weightLog) {
            m_weightLog = Database::open(m_services.appFolder + QLatin1String(kSettingsDatabaseName),
                                         QLatin1String(kSettingsDatabaseConnect));
        }
        // One row appended; reading the whole log first (as a record set would) only costs time.
        m_weightLog->execute(QStringLiteral("insert into weightlog (Datetime, weight) values (?, ?)"),
                             {dateTimeText, weightText});
        return m_weightLog->lastInsertRowId();
    } catch (...) {
        m_weightLog.reset();
        throw;
    }
}

QString WeightOutputs::ServeWeight(const QString& weightText) {
    try {
        if (!m_dryRun) {
            const QString dateTimeText = generalDate(m_services.clock.now());
            // The weight log first: a program killed between the two writes must not leave a weighment
            // that the receiving program got but the log lacks. A failed log write still lets the
            // output file be written; its error is reported after it.
            QString logError;
            qint64 slno = 0;
            try {
                slno = appendWeightLog(weightText, dateTimeText);
            } catch (const DbError& e) {
                logError = e.description();
            }
            if (logError.isEmpty() && m_served) m_served({slno, weightText, dateTimeText});
            if (m_settings.outputTypeCode != QLatin1String("3")) {
                for (;;) {
                    if (m_settings.outputFolder.isEmpty() || m_settings.outputTypeCode.isEmpty()) break;
                    if (WriteCsvFile(weightText, dateTimeText)) break;
                    if (!m_services.prompts.askYesNo(
                            QStringLiteral("Export file ") + m_settings.outputFilePath +
                            QStringLiteral(" is locked by another user. Try again?"))) {
                        break;
                    }
                }
            } else {
                writeExportDatabase(weightText);
            }
            if (!logError.isEmpty()) return logError;
            if (m_settings.OutputClipboard) {
                m_services.clipboard.clear();
                QString text = weightText;
                if (m_settings.appendTimeStamp)
                    text += QLatin1Char(',') + generalDate(m_services.clock.now());
                m_services.clipboard.setText(text);
            }
        }
        if (m_settings.activateVoiceAlert) m_voice.AnnounceWeight(weightText);
    } catch (const DbError& e) {
        return e.description();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

}  // namespace veltrane
