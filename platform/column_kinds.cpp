#include "platform/column_kinds.h"

#include "platform/clock.h"
#include "platform/database.h"
#include "platform/sqlite_statement.h"

#include <QDateTime>
#include <QStringList>

#include <cfloat>
#include <cmath>
#include <limits>

namespace veltrane::sqlite {

Kind kindOf(const char* declared) {
    const QString type = utf8(declared).toUpper();
    if (type.isEmpty()) return Kind::Any;
    if (type.contains(QLatin1String("BOOL")) || type.contains(QLatin1String("YESNO")) ||
        type == QLatin1String("BIT"))
        return Kind::Boolean;
    if (type.contains(QLatin1String("INT"))) return Kind::Integer;
    if (type.contains(QLatin1String("REAL")) || type.contains(QLatin1String("SINGLE"))) return Kind::Single;
    if (type.contains(QLatin1String("DOUB")) || type.contains(QLatin1String("FLOA")) ||
        type.contains(QLatin1String("NUMERIC")) || type.contains(QLatin1String("DECIMAL")) ||
        type.contains(QLatin1String("CURRENCY")))
        return Kind::Double;
    if (type.contains(QLatin1String("CHAR")) || type.contains(QLatin1String("TEXT")) ||
        type.contains(QLatin1String("CLOB")))
        return Kind::Text;
    return Kind::Any;
}

std::optional<QVariant> fitValue(const QVariant& value, Kind kind) {
    if (!value.isValid() || value.isNull()) return QVariant();
    const int type = value.typeId();
    if (kind == Kind::Any) return value;
    if (kind == Kind::Text) {
        if (type == QMetaType::Bool)
            return QVariant(value.toBool() ? QStringLiteral("True") : QStringLiteral("False"));
        if (type == QMetaType::QDateTime) return QVariant(generalDate(value.toDateTime()));
        if (type == QMetaType::QDate) return QVariant(shortDate(value.toDate()));
        if (type == QMetaType::QTime) return QVariant(longTime(value.toTime()));
        if (type == QMetaType::QByteArray || !value.canConvert<QString>()) return std::nullopt;
        return QVariant(value.toString());
    }

    // Numeric and yes/no kinds: take a number from the value.
    double number = 0;
    bool exact = false;  // integer source, no rounding needed
    qlonglong integer = 0;
    if (type == QMetaType::Bool) {
        integer = value.toBool() ? -1 : 0;
        number = double(integer);
        exact = true;
    } else if (isWholeNumberValue(value) || isRealNumberValue(value)) {
        if (type == QMetaType::Double || type == QMetaType::Float) {
            number = value.toDouble();
        } else if (type == QMetaType::ULongLong || type == QMetaType::ULong) {
            const qulonglong u = value.toULongLong();
            if (u > qulonglong(std::numeric_limits<qlonglong>::max())) return std::nullopt;
            integer = qlonglong(u);
            number = double(integer);
            exact = true;
        } else {
            integer = value.toLongLong();
            number = double(integer);
            exact = true;
        }
    } else if (type == QMetaType::QString || value.canConvert<QString>()) {
        if (type == QMetaType::QByteArray) return std::nullopt;
        const QString text = value.toString().trimmed();
        if (text.isEmpty()) return QVariant();
        if (kind == Kind::Boolean) {
            static const QStringList yes{QStringLiteral("true"), QStringLiteral("yes"), QStringLiteral("on")};
            static const QStringList no{QStringLiteral("false"), QStringLiteral("no"), QStringLiteral("off")};
            if (yes.contains(text, Qt::CaseInsensitive)) return QVariant(qlonglong(-1));
            if (no.contains(text, Qt::CaseInsensitive)) return QVariant(qlonglong(0));
        }
        bool ok = false;
        number = text.toDouble(&ok);  // C locale: "." whatever the system says
        if (!ok) return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (!exact && !std::isfinite(number)) return std::nullopt;

    switch (kind) {
        case Kind::Boolean:
            return QVariant(qlonglong(number != 0 || integer != 0 ? -1 : 0));
        case Kind::Integer: {
            if (exact) return QVariant(integer);
            // Half to even: no bias upward when many fractions are stored as whole numbers.
            const double rounded = std::nearbyint(number);
            if (rounded < -9223372036854775808.0 || rounded >= 9223372036854775808.0) return std::nullopt;
            return QVariant(qlonglong(rounded));
        }
        case Kind::Single:
            if (std::fabs(number) > double(FLT_MAX)) return std::nullopt;
            return QVariant(number);
        default:
            return QVariant(number);
    }
}

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::Text:
            return "text";
        case Kind::Integer:
            return "whole number";
        case Kind::Boolean:
            return "yes/no";
        case Kind::Single:
            return "single-precision number";
        case Kind::Double:
            return "number";
        default:
            return "value";
    }
}

}  // namespace veltrane::sqlite
