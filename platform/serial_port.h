#pragma once
// The indicator's serial port, in the shape the program drives it: a port number, a settings text
// such as "9600,n,8,1", open/close, writes, and one receive event per byte.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace veltrane {

struct SerialSettings {
    int baud = 9600;
    char parity = 'n';  // 'n', 'e', 'o', 'm', 's'
    int dataBits = 8;   // 5..8
    int stopBits = 1;   // 1 or 2; 1.5 is kept as 3

    // Strict: four comma-separated fields, blanks around fields allowed, a positive baud, a known
    // parity letter (either case), data bits 5..8, stop bits 1, 1.5 or 2. On failure returns nothing
    // and puts a description into *error.
    static std::optional<SerialSettings> parse(const QString& text, QString* error = nullptr);
    QString text() const;
    bool operator==(const SerialSettings&) const = default;
};

// Port number n to a device path. The real one reads the comports table of the settings database;
// with no row, n is /dev/ttyS<n-1>. Ports look the device up when their number is set, not when they
// open: an absent adapter is tried again and again, and each try must stay cheap.
using DeviceResolver = std::function<QString(int portNumber)>;

class SerialPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialPort() override = default;

    virtual void setPortNumber(int number) = 0;
    virtual int portNumber() const = 0;
    // Stored as given and checked when the port opens, so that a bad text is reported with the open
    // failure it causes rather than lost on the way.
    virtual void setSettingsText(const QString& text) = 0;
    virtual QString settingsText() const = 0;

    // Opens the device of the current port number with the current settings text. On failure the port
    // stays closed and lastError() describes why (no such device, busy, bad settings text).
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual QString lastError() const = 0;
    // One write per call. False (and lastError) when closed or the write fails.
    virtual bool write(const QByteArray& data) = 0;
    // The device path the current port number maps to (for tooltips and messages).
    virtual QString deviceName() const = 0;

Q_SIGNALS:
    // One signal per received byte, in order, always delivered from the event loop (queued): a handler
    // that lets pending events run may receive the following bytes inside itself.
    void byteReceived(char byte);
    // The device vanished while open (USB adapter pulled). The port is already closed when this is
    // emitted, and it is emitted once per loss.
    void deviceLost(const QString& description);
};

}  // namespace veltrane
