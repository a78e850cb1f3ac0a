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
};

// The bytes a UART set to `rx` takes from `sent` transmitted at `tx`, and nothing else: each character
// is laid out bit by bit (start bit, data bits least significant first, parity, stop bits) at tx's
// speed and sampled at rx's. The receiver finds a start bit by its falling edge checked at mid-bit,
// samples its data bits, skips its parity bit unchecked and checks only the first stop bit; a character
// that fails it is delivered anyway as the data bits sampled, as a port that ignores framing errors
// does (a break is all zeros, so it arrives as NUL). Seven data bits with parity read at 8N1 thus arrive
// with the parity in bit 7, and two stop bits read with one arrive clean, as on a cable.
QByteArray receivedAs(const QByteArray& sent, const LineSettings& tx, const LineSettings& rx);

}  // namespace veltrane::sim
