#pragma once
// What the wizard's search tests share: a real settings database with one configuration row.

#include "config/schema.h"
#include "config/settings.h"
#include "platform/database.h"
#include "tests/support/fake_view.h"

#include <QStringList>

namespace veltrane::test {

// The installation's scale.mdb in the folder, with position decoding on ";" 7..9 so that a test can tell
// the columns the wizard wrote from those it left alone.
inline void makeSettingsDatabase(const QString& folder) {
    createSettingsDatabase(folder + QLatin1String(kSettingsDatabaseName), folder);
    auto db = Database::open(folder + QLatin1String(kSettingsDatabaseName),
                             QLatin1String(kSettingsDatabaseConnect));
    db->execute(
        QStringLiteral("update config set delimiter = ';', weightstart = 7, weightend = 9, simpinterface = "
                       "0, usevalue = -1"));
}

inline QVariantMap readConfigRow(const QString& folder) {
    auto db = Database::open(folder + QLatin1String(kSettingsDatabaseName),
                             QLatin1String(kSettingsDatabaseConnect));
    auto rows = db->openRecordSet(QStringLiteral("select * from config"));
    rows->moveFirst();
    QVariantMap row;
    for (const QString& name : rows->fieldNames()) row[name] = rows->field(name);
    return row;
}

}  // namespace veltrane::test
