#include "platform/sqlite_statement.h"

#include "platform/clock.h"

#include <QDateTime>

namespace veltrane::sqlite {

void bindValue(const Connection& conn, sqlite3_stmt* stmt, int index, const QVariant& value) {
    int rc = SQLITE_OK;
    if (!value.isValid() || value.isNull()) {
        rc = sqlite3_bind_null(stmt, index);
    } else {
        switch (value.typeId()) {
            case QMetaType::Bool:
                // Yes/no is -1/0 in these files: the value other programs reading them expect.
                rc = sqlite3_bind_int64(stmt, index, value.toBool() ? -1 : 0);
                break;
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::Long:
            case QMetaType::ULong:
            case QMetaType::LongLong:
            case QMetaType::ULongLong:
            case QMetaType::Short:
            case QMetaType::UShort:
            case QMetaType::Char:
            case QMetaType::SChar:
            case QMetaType::UChar:
                rc = sqlite3_bind_int64(stmt, index, value.toLongLong());
                break;
            case QMetaType::Double:
            case QMetaType::Float:
                rc = sqlite3_bind_double(stmt, index, value.toDouble());
                break;
            case QMetaType::QByteArray: {
                const QByteArray bytes = value.toByteArray();
                rc = sqlite3_bind_blob64(stmt, index, bytes.constData(), sqlite3_uint64(bytes.size()),
                                         SQLITE_TRANSIENT);
                break;
            }
            default: {
                QString text;
                if (value.typeId() == QMetaType::QDateTime)
                    text = generalDate(value.toDateTime());
                else if (value.typeId() == QMetaType::QDate)
                    text = shortDate(value.toDate());
                else if (value.typeId() == QMetaType::QTime)
                    text = longTime(value.toTime());
                else
                    text = value.toString();
                const QByteArray bytes = text.toUtf8();
                rc = sqlite3_bind_text64(stmt, index, bytes.constData(), sqlite3_uint64(bytes.size()),
                                         SQLITE_TRANSIENT, SQLITE_UTF8);
            }
        }
    }
    if (rc != SQLITE_OK) conn.failEngine(rc);
}

QVariant columnValue(sqlite3_stmt* stmt, int column) {
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_INTEGER:
            return QVariant(qlonglong(sqlite3_column_int64(stmt, column)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(stmt, column));
        case SQLITE_TEXT:
            return QVariant(
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                                  sqlite3_column_bytes(stmt, column)));
        case SQLITE_BLOB:
            return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, column)),
                                       sqlite3_column_bytes(stmt, column)));
        default:
            return {};
    }
}

}  // namespace veltrane::sqlite
