#include "platform/qt_serial_port.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace veltrane {

namespace {

QSerialPort::Parity toParity(char letter) {
    switch (letter) {
        case 'e':
            return QSerialPort::EvenParity;
        case 'o':
            return QSerialPort::OddParity;
        case 'm':
            return QSerialPort::MarkParity;
        case 's':
            return QSerialPort::SpaceParity;
        default:
            return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits toStopBits(int stopBits) {
    switch (stopBits) {
        case 2:
            return QSerialPort::TwoStop;
        case 3:
            return QSerialPort::OneAndHalfStop;
        default:
            return QSerialPort::OneStop;
    }
}

QString userName(uid_t uid) {
    const passwd* pw = ::getpwuid(uid);
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
}

QString groupName(gid_t gid) {
    const group* gr = ::getgrgid(gid);
    return gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(gid);
}

bool accountInGroup(uid_t uid, gid_t gid) {
    const passwd* pw = ::getpwuid(uid);
    if (!pw) return false;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        if (::getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &count) < 0) return false;
    }
    groups.resize(static_cast<size_t>(count));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

bool sessionInGroup(gid_t gid) {
    if (::getegid() == gid) return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Whether this process, as the user it runs as, may not read and write the device.
bool refusedForPermission(const QString& device) {
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 &&
           (errno == EACCES || errno == EPERM);
}

}  // namespace

DeviceAccess lookUpDeviceAccess(const QString& device) {
    DeviceAccess access{device, userName(::getuid()), {}, {}, false, false, false};
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0) return access;
    access.owner = userName(st.st_uid);
    access.group = groupName(st.st_gid);
    access.groupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && st.st_gid != 0;
    access.accountInGroup = accountInGroup(::getuid(), st.st_gid);
    access.sessionInGroup = sessionInGroup(st.st_gid);
    return access;
}

QString permissionAdvice(const DeviceAccess& a) {
    if (!a.groupMayUse) {
        return QStringLiteral(
                   "Permission denied: %1 may be used only by its owner %2. An administrator must "
                   "give a group read and write access to it (a udev rule), and this user must "
                   "be a member of that group.")
            .arg(a.device, a.owner.isEmpty() ? QStringLiteral("(unknown)") : a.owner);
    }
    if (a.accountInGroup && !a.sessionInGroup) {
        return QStringLiteral(
                   "Permission denied: %1 is for members of the group %2. The user %3 was added "
                   "to it after this login began: log out and log in again.")
            .arg(a.device, a.group, a.user);
    }
    return QStringLiteral(
               "Permission denied: %1 is for members of the group %2, and the user %3 is not one. "
               "Add the user to the group (as root: adduser %3 %2), then log out and log in again.")
        .arg(a.device, a.group, a.user);
}

QString QtSerialPort::defaultDevicePath(int portNumber) {
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
}

QtSerialPort::QtSerialPort(DeviceResolver resolver, QObject* parent)
    : SerialPort(parent), m_resolver(std::move(resolver)) {
    if (!m_resolver) m_resolver = &QtSerialPort::defaultDevicePath;
    m_device = m_resolver(m_portNumber);
    // Everything the device sends is kept: the decoder, not the driver, decides what to drop.
    m_port.setReadBufferSize(0);
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialPort::readIncoming);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

QtSerialPort::~QtSerialPort() {
    disconnect(&m_port, nullptr, this, nullptr);
    if (m_port.isOpen()) m_port.close();
}

void QtSerialPort::setPortNumber(int number) {
    m_portNumber = number;
    m_device = m_resolver(number);
}

QString QtSerialPort::deviceName() const {
    return m_device;
}

bool QtSerialPort::open() {
    if (m_port.isOpen()) {
        m_lastError = QStringLiteral("The serial port %1 is already open").arg(m_port.portName());
        return false;
    }
    QString why;
    const std::optional<SerialSettings> settings = SerialSettings::parse(m_settingsText, &why);
    if (!settings) {
        m_lastError = why;
        return false;
    }
    const QString device = deviceName();
    if (device.isEmpty()) {
        m_lastError = QStringLiteral("No device for serial port %1").arg(m_portNumber);
        return false;
    }
    if (!QFileInfo::exists(device)) {
        m_lastError = QStringLiteral("Serial port %1: no such device %2").arg(m_portNumber).arg(device);
        return false;
    }

    // A path, not a bare name, so symlinks made for a port (e.g. /dev/serial/by-id/...) work as given.
    m_port.setPortName(device);
    m_port.setBaudRate(settings->baud);
    m_port.setDataBits(static_cast<QSerialPort::DataBits>(settings->dataBits));
    m_port.setParity(toParity(settings->parity));
    m_port.setStopBits(toStopBits(settings->stopBits));
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        // The port's own text says "Permission denied" also when another program holds the lock, so
        // the device's permissions decide which of the two it is.
        const bool noPermission =
            m_port.error() == QSerialPort::PermissionError && refusedForPermission(device);
        m_lastError = QStringLiteral("Serial port %1 (%2) could not be opened: %3")
                          .arg(m_portNumber)
                          .arg(device, noPermission ? permissionAdvice(lookUpDeviceAccess(device))
                                                    : m_port.errorString());
        if (m_port.isOpen()) m_port.close();
        m_port.clearError();
        return false;
    }
    // A port of seven data bits keeps seven: the driver strips what a pseudo-terminal or an adapter
    // without CS7 would pass, and the mask catches what it does not.
    m_dataMask = static_cast<char>((1 << settings->dataBits) - 1);
    if (settings->dataBits == 7) {
        termios t{};
        const int fd = static_cast<int>(m_port.handle());
        if (::tcgetattr(fd, &t) == 0) {
            t.c_iflag |= ISTRIP;
            ::tcsetattr(fd, TCSANOW, &t);
        }
    }
    // Bytes the device sent before anyone listened belong to no reading of ours.
    m_port.clear(QSerialPort::Input);
    m_port.readAll();
    m_queue.clear();
    m_head = 0;
    m_lossPending = false;
    m_lastError.clear();
    return true;
}

void QtSerialPort::close() {
    if (m_port.isOpen()) m_port.close();
    m_port.clearError();
    m_queue.clear();
    m_head = 0;
}

bool QtSerialPort::write(const QByteArray& data) {
    if (!m_port.isOpen()) {
        m_lastError = QStringLiteral("Serial port %1 is not open").arg(m_portNumber);
        return false;
    }
    if (data.isEmpty()) return true;
    // Written through at once, so each call leaves as one write rather than merging in the buffer.
    const qint64 n = m_port.write(data);
    if (n == data.size() && m_port.isOpen()) m_port.flush();
    if (n != data.size() || !m_port.isOpen()) {
        if (m_lastError.isEmpty() || m_port.isOpen())
            m_lastError = QStringLiteral("Serial port %1: write failed: %2")
                              .arg(m_portNumber)
                              .arg(m_port.errorString());
        return false;
    }
    return true;
}

void QtSerialPort::readIncoming() {
    QByteArray incoming = m_port.readAll();
    if (incoming.isEmpty()) return;
    if (m_dataMask != '\xff')
        for (char& c : incoming) c = static_cast<char>(c & m_dataMask);
    if (m_head > 0 && m_head == m_queue.size()) {
        m_queue.clear();
        m_head = 0;
    }
    m_queue.append(incoming);
    if (!m_drainPosted) postDrain();
}

void QtSerialPort::postDrain() {
    m_drainPosted = true;
    QMetaObject::invokeMethod(this, &QtSerialPort::drain, Qt::QueuedConnection);
}

void QtSerialPort::drain() {
    m_drainPosted = false;
    // A handler that lets events run for every byte would otherwise nest one level per waiting byte
    // and overflow the stack on a burst; past the limit the drains already running deliver the rest,
    // still in order.
    if (m_drainDepth >= kMaxDrainNesting) return;
    ++m_drainDepth;
    while (m_head < m_queue.size()) {
        const char byte = m_queue.at(m_head++);
        // If the handler lets events run, this posted drain hands it the next bytes nested; if it
        // does not, this loop goes on and the posted drain later finds nothing to do.
        if (m_head < m_queue.size() && !m_drainPosted && m_drainDepth < kMaxDrainNesting) postDrain();
        Q_EMIT byteReceived(byte);
    }
    --m_drainDepth;
    if (m_head > 0 && m_head == m_queue.size()) {
        m_queue.clear();
        m_head = 0;
    }
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    if (!m_port.isOpen()) return;
    switch (error) {
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
        case QSerialPort::DeviceNotFoundError:
        case QSerialPort::PermissionError:
            loseDevice(m_port.errorString());
            break;
        default:
            break;
    }
}

void QtSerialPort::loseDevice(const QString& description) {
    // The adapter is gone: every further read would fail again, so the port closes at the first error
    // and the loss is told once.
    const QString device = m_port.portName();
    m_port.close();
    m_queue.clear();
    m_head = 0;
    m_lastError =
        QStringLiteral("Serial port %1 (%2) was lost: %3").arg(m_portNumber).arg(device, description);
    m_lossDescription = m_lastError;
    if (m_lossPending) return;
    m_lossPending = true;
    // Told from the event loop, so a write that meets the loss returns before anyone reacts to it.
    QMetaObject::invokeMethod(this, &QtSerialPort::deliverLoss, Qt::QueuedConnection);
}

void QtSerialPort::deliverLoss() {
    if (!m_lossPending) return;
    m_lossPending = false;
    Q_EMIT deviceLost(m_lossDescription);
}

}  // namespace veltrane
