#include "platform/serial_port.h"

#include <QStringList>

namespace veltrane {

namespace {

// 1.5 stop bits has no integer of its own; it is kept as 3, the value the serial driver uses for it.
constexpr int kOneAndHalfStopBits = 3;

bool fail(QString* error, const QString& text, const QString& why) {
    if (error) *error = QStringLiteral("Bad serial settings \"%1\": %2").arg(text, why);
    return false;
}

bool allDigits(const QString& s) {
    if (s.isEmpty()) return false;
    for (QChar c : s)
        if (c < u'0' || c > u'9') return false;
    return true;
}

}  // namespace

std::optional<SerialSettings> SerialSettings::parse(const QString& text, QString* error) {
    const QStringList fields = text.split(u',');
    if (fields.size() != 4) {
        fail(error, text,
             QStringLiteral("expected four fields \"baud,parity,data bits,stop bits\", found %1")
                 .arg(fields.size()));
        return std::nullopt;
    }
    const QString baud = fields[0].trimmed();
    const QString parity = fields[1].trimmed();
    const QString data = fields[2].trimmed();
    const QString stop = fields[3].trimmed();

    SerialSettings s;
    bool ok = false;
    s.baud = baud.toInt(&ok);
    if (!allDigits(baud) || !ok || s.baud <= 0) {
        fail(error, text, QStringLiteral("the baud rate \"%1\" is not a positive whole number").arg(baud));
        return std::nullopt;
    }
    static const QString kParities = QStringLiteral("neoms");
    if (parity.size() != 1 || !kParities.contains(parity.at(0).toLower())) {
        fail(error, text, QStringLiteral("unknown parity \"%1\" (use n, e, o, m or s)").arg(parity));
        return std::nullopt;
    }
    s.parity = static_cast<char>(parity.at(0).toLower().unicode());
    s.dataBits = data.toInt(&ok);
    if (!allDigits(data) || !ok || s.dataBits < 5 || s.dataBits > 8) {
        fail(error, text, QStringLiteral("data bits \"%1\" cannot be used (5 to 8)").arg(data));
        return std::nullopt;
    }
    if (stop == u"1") {
        s.stopBits = 1;
    } else if (stop == u"2") {
        s.stopBits = 2;
    } else if (stop == u"1.5") {
        s.stopBits = kOneAndHalfStopBits;
    } else {
        fail(error, text, QStringLiteral("stop bits \"%1\" cannot be used (1, 1.5 or 2)").arg(stop));
        return std::nullopt;
    }
    if (error) error->clear();
    return s;
}

QString SerialSettings::text() const {
    const QString stop = stopBits == kOneAndHalfStopBits ? QStringLiteral("1.5") : QString::number(stopBits);
    return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(QChar::fromLatin1(parity)).arg(dataBits).arg(stop);
}

}  // namespace veltrane
