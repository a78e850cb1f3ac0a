#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace veltrane {
namespace {

// mkostemp's six random characters.
constexpr int kTempSuffixLength = 6;
// As the kernel's own limit: a longer chain is a loop.
constexpr int kMaxLinkHops = 40;

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

QString describe(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

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

// The file a path finally names, following symbolic links (also dangling ones: the link then
// gets its file). Relative targets count from the link's own folder. Links are common here: the
// installed application folder links its files into /var/lib/veltrane, and an integrator may link
// the output file to where the ERP reads it.
QByteArray finalTarget(const QString& path) {
    QString current = QFileInfo(path).absoluteFilePath();
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        const QFileInfo info(current);
        if (!info.isSymLink()) break;
        current = QDir::cleanPath(info.symLinkTarget());
    }
    return QFile::encodeName(current);
}

QByteArray folderOf(const QByteArray& file) {
    const qsizetype slash = file.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : file.left(slash);
}

QByteArray nameOf(const QByteArray& file) {
    return file.mid(file.lastIndexOf('/') + 1);
}

void syncFolder(const QByteArray& folder) {
    Fd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
}

// Truncates and rewrites the file itself: for a folder where no new file may be made. Only an existing,
// regular file qualifies (a FIFO would block the program). Returns the errno of the failure, or 0.
int writeInPlace(const QByteArray& target, const QByteArray& content) {
    Fd fd(::open(target.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid()) return errno;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (::ftruncate(fd.get(), 0) != 0 || !writeAll(fd.get(), content) || ::fsync(fd.get()) != 0) return errno;
    return fd.reset() == 0 ? 0 : errno;
}

bool isLeftoverOf(const char* entry, const QByteArray& name) {
    const QByteArray prefix = '.' + name + '.';
    const std::size_t length = std::strlen(entry);
    if (length != std::size_t(prefix.size()) + kTempSuffixLength ||
        std::strncmp(entry, prefix.constData(), std::size_t(prefix.size())) != 0)
        return false;
    for (const char* c = entry + prefix.size(); *c; ++c)
        if (!((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9'))) return false;
    return true;
}

}  // namespace

bool PosixFiles::lockedByAnotherProgram(const QString& path) {
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

QString PosixFiles::replace(const QString& path, const QByteArray& content) {
    const QByteArray target = finalTarget(path);
    const QByteArray folder = folderOf(target);
    QByteArray temp = folder + "/." + nameOf(target) + '.' + QByteArray(kTempSuffixLength, 'X');
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.valid()) {
        const int noTemp = errno;
        const int inPlace = writeInPlace(target, content);
        if (inPlace == 0) return {};
        // Without the file, why the folder refused the new one is the story.
        return describe(inPlace == ENOENT ? noTemp : inPlace);
    }
    int error = 0;
    if (::fchmod(fd.get(), newFileMode(target)) != 0 || !writeAll(fd.get(), content) ||
        ::fsync(fd.get()) != 0)
        error = errno;
    if (fd.reset() != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.constData(), target.constData()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.constData());
        return describe(error);
    }
    // The rename itself must reach the disk before the file counts as written.
    syncFolder(folder);
    return {};
}

int PosixFiles::removeLeftovers(const QString& path) {
    const QByteArray target = finalTarget(path);
    const QByteArray folder = folderOf(target);
    const QByteArray name = nameOf(target);
    DIR* dir = ::opendir(folder.constData());
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isLeftoverOf(entry->d_name, name)) continue;
        // Only plain files of this user: never follow a link someone else planted.
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

}  // namespace veltrane
