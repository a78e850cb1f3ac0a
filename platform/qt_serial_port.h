#pragma once
// The indicator's port on Qt SerialPort. Received bytes wait in one queue and leave it one signal at a
// time from the event loop, so a receive handler that lets events run gets the next bytes nested inside
// it, in order, without one posted event per byte.

#include "platform/serial_port.h"

#include <QSerialPort>

namespace veltrane {

// What a refused device tells about the way to it, looked up when opening fails for lack of permission.
struct DeviceAccess {
    QString device;
    QString user;   // the account this program runs as
    QString owner;  // the device file's owner and group
    QString group;
    bool groupMayUse;     // the group has read and write access
    bool accountInGroup;  // the account is a member of that group in the user database
    bool sessionInGroup;  // ...and this login already carries the membership
};
DeviceAccess lookUpDeviceAccess(const QString& device);
// The plain words an operator needs: why, and what to do about it.
QString permissionAdvice(const DeviceAccess& access);

class QtSerialPort final : public SerialPort {
    Q_OBJECT
public:
    // Port n is /dev/ttyS<n-1>: the resolver to use when the comports table has no row.
    static QString defaultDevicePath(int portNumber);

    explicit QtSerialPort(DeviceResolver resolver = &QtSerialPort::defaultDevicePath,
                          QObject* parent = nullptr);
    ~QtSerialPort() override;

    void setPortNumber(int number) override;
    int portNumber() const override { return m_portNumber; }
    void setSettingsText(const QString& text) override { m_settingsText = text; }
    QString settingsText() const override { return m_settingsText; }

    bool open() override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    QString lastError() const override { return m_lastError; }
    bool write(const QByteArray& data) override;
    QString deviceName() const override;

private:
    void readIncoming();
    void drain();
    void postDrain();
    void onError(QSerialPort::SerialPortError error);
    void loseDevice(const QString& description);
    void deliverLoss();

    DeviceResolver m_resolver;
    QSerialPort m_port;
    int m_portNumber = 1;
    QString m_device;  // looked up when the number is set, never at an opening
    QString m_settingsText = QStringLiteral("9600,n,8,1");
    QString m_lastError;
    // What a receiver of the configured data bits delivers; a pseudo-terminal passes all eight.
    char m_dataMask = '\xff';

    // Bytes read but not yet signalled; m_head is the next one to go.
    QByteArray m_queue;
    qsizetype m_head = 0;
    bool m_drainPosted = false;
    int m_drainDepth = 0;
    static constexpr int kMaxDrainNesting = 64;

    // A loss is announced once, from the event loop, and forgotten if the port is opened again first.
    bool m_lossPending = false;
    QString m_lossDescription;
};

}  // namespace veltrane
