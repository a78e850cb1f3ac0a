#include "tools/indicator-sim/line_settings.h"

#include <QStringList>

#include <vector>

namespace veltrane::sim {

std::optional<LineSettings> LineSettings::parse(const QString& text, QString* error) {
    const QStringList f = text.split(u',');
    auto fail = [&](const QString& why) {
        if (error) *error = QStringLiteral("bad line settings \"%1\": %2").arg(text, why);
        return std::nullopt;
    };
    if (f.size() != 4) return fail(QStringLiteral("expected baud,parity,data bits,stop bits"));
    LineSettings s;
    bool ok = false;
    s.baud = f[0].trimmed().toInt(&ok);
    if (!ok || s.baud <= 0) return fail(QStringLiteral("baud rate must be a positive number"));
    const QString p = f[1].trimmed().toLower();
    if (p.size() != 1 || !QStringLiteral("neoms").contains(p))
        return fail(QStringLiteral("parity must be n, e, o, m or s"));
    s.parity = static_cast<char>(p.at(0).unicode());
    s.dataBits = f[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8) return fail(QStringLiteral("data bits must be 5 to 8"));
    s.stopBits = f[3].trimmed().toInt(&ok);
    if (!ok || (s.stopBits != 1 && s.stopBits != 2)) return fail(QStringLiteral("stop bits must be 1 or 2"));
    return s;
}

QString LineSettings::text() const {
    return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(QChar::fromLatin1(parity)).arg(dataBits).arg(stopBits);
}

namespace {

std::vector<bool> lineLevels(const QByteArray& sent, const LineSettings& tx) {
    std::vector<bool> levels(4, true);  // idle before the first start bit
    for (char ch : sent) {
        const auto b = static_cast<unsigned char>(ch);
        levels.push_back(false);
        int ones = 0;
        for (int i = 0; i < tx.dataBits; ++i) {
            const bool bit = (b >> i) & 1;
            ones += bit;
            levels.push_back(bit);
        }
        switch (tx.parity) {
            case 'e':
                levels.push_back(ones % 2 == 1);
                break;
            case 'o':
                levels.push_back(ones % 2 == 0);
                break;
            case 'm':
                levels.push_back(true);
                break;
            case 's':
                levels.push_back(false);
                break;
            default:
                break;
        }
        for (int i = 0; i < tx.stopBits; ++i) levels.push_back(true);
    }
    levels.insert(levels.end(), 24, true);
    return levels;
}

QByteArray sample(const std::vector<bool>& levels, double rxBit, const LineSettings& rx) {
    auto level = [&](double t) {
        const auto i = static_cast<size_t>(t);
        return i < levels.size() ? levels[i] : true;
    };
    const int parityBits = rx.parity == 'n' ? 0 : 1;
    const double end = static_cast<double>(levels.size());
    const double step = rxBit / 16;  // a receiver looks for the start edge at 16 times its bit rate
    QByteArray out;
    double t = 0;
    while (t < end) {
        if (level(t) || level(t + rxBit / 2)) {  // idle, or a glitch rather than a start bit
            t += step;
            continue;
        }
        int value = 0;
        for (int i = 0; i < rx.dataBits; ++i)
            if (level(t + rxBit * (1.5 + i))) value |= 1 << i;
        out.append(static_cast<char>(value));
        // Right after sampling the first stop bit the receiver hunts again: a low line there is taken
        // as the next start bit, as a UART resynchronises after a framing error.
        t += rxBit * (1.5 + rx.dataBits + parityBits) + step;
    }
    return out;
}

}  // namespace

QByteArray receivedAs(const QByteArray& sent, const LineSettings& tx, const LineSettings& rx) {
    const double rxBit = static_cast<double>(tx.baud) / rx.baud;  // in transmitted bit times
    return sample(lineLevels(sent, tx), rxBit, rx);
}

}  // namespace veltrane::sim
