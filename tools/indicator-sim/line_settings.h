#pragma once
// The simulated indicator's line settings, and what a receiver set differently makes of its bytes.

#include <QByteArray>
#include <QString>

#include <optional>

namespace veltrane::sim {

struct LineSettings {
    int baud = 9600;
    char parity = 'n';
    int dataBits = 8;
    int stopBits = 1;

    // "9600,n,8,1"; parity n, e, o, m or s; data bits 5..8; stop bits 1 or 2.
    static std::optional<LineSettings> parse(const QString& text, QString* error = nullptr);
    QString text() const;
    bool operator==(const LineSettings&) const = default;

    // Only baud rate and stop bits reach the other side of a pseudo-terminal; parity and data bits are
    // refused or dropped by the pty driver, so they cannot be compared.
    bool matchesOverPty(const LineSettings& reader) const {
        return baud == reader.baud && stopBits == reader.stopBits;
    }
};

// The bytes a receiver at `rx` takes from `sent` transmitted at `tx`: each character is laid out bit by
// bit (start bit, data bits least significant first, parity, stop bits) at tx's speed and sampled at
// rx's, with a framing error giving NUL as the Linux tty layer does. When the sampling happens to
// recover the bytes anyway (close baud rates, a receiver that checks fewer stop bits), the bytes are
// bit-slipped instead, so that only the indicator's own settings ever yield its frames.
QByteArray receivedAs(const QByteArray& sent, const LineSettings& tx, const LineSettings& rx);

}  // namespace veltrane::sim
