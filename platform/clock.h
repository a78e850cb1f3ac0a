#pragma once
// One injectable clock, so that tests can move time (the 20-second and 15-second rules).

#include <QDateTime>
#include <QString>

namespace veltrane {

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// The one date-and-time text of the program (CSV line, clipboard, status texts, wizard files):
// "YYYY-MM-DD HH:MM:SS", local time, whatever the locale.
inline QString generalDate(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
inline QString shortDate(const QDate& d) {
    return d.toString(QStringLiteral("yyyy-MM-dd"));
}
inline QString shortTime(const QTime& t) {
    return t.toString(QStringLiteral("HH:mm"));
}
inline QString longTime(const QTime& t) {
    return t.toString(QStringLiteral("HH:mm:ss"));
}

}  // namespace veltrane
