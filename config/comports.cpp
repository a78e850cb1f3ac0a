#include "config/comports.h"

#include "config/settings.h"
#include "platform/database.h"

namespace veltrane {

namespace {
std::unique_ptr<Database> openSettings(const QString& path) {
    return Database::open(path, QString::fromLatin1(kSettingsDatabaseConnect));
}
}  // namespace

QString defaultDeviceFor(int portNumber) {
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
}

DeviceResolver settingsDeviceResolver(const QString& settingsDatabasePath) {
    return [settingsDatabasePath](int portNumber) {
        try {
            if (auto device = readComportDevice(settingsDatabasePath, portNumber)) return *device;
        } catch (const DbError&) {
        }
        return defaultDeviceFor(portNumber);
    };
}

std::optional<QString> readComportDevice(const QString& settingsDatabasePath, int portNumber) {
    return readComportDevice(*openSettings(settingsDatabasePath), portNumber);
}

std::optional<QString> readComportDevice(Database& db, int portNumber) {
    auto rows = db.openRecordSet(QStringLiteral("select * from comports where port = ?"), {portNumber});
    if (rows->isEof()) return std::nullopt;
    const QVariant device = rows->field(QStringLiteral("device"));
    if (device.isNull() || device.toString().trimmed().isEmpty()) return std::nullopt;
    return device.toString().trimmed();
}

void writeComportDevice(const QString& settingsDatabasePath, int portNumber, const QString& device) {
    auto db = openSettings(settingsDatabasePath);
    // Settings files made before the table existed get it on the first write.
    db->execute(
        QStringLiteral("create table if not exists comports (port INTEGER PRIMARY KEY, device TEXT)"));
    if (device.trimmed().isEmpty()) {
        db->execute(QStringLiteral("delete from comports where port = ?"), {portNumber});
        return;
    }
    auto rows = db->openRecordSet(QStringLiteral("select * from comports where port = ?"), {portNumber});
    if (rows->isEof()) {
        rows->addNew();
        rows->setField(QStringLiteral("port"), portNumber);
    } else {
        rows->edit();
    }
    rows->setField(QStringLiteral("device"), device.trimmed());
    rows->update();
}

}  // namespace veltrane
