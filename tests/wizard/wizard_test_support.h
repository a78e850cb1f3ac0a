#pragma once
// What the wizard's search tests share: a real settings database with one configuration row, and the
// end of every offer the search makes.

#include "config/schema.h"
#include "config/settings.h"
#include "platform/database.h"
#include "tests/support/fake_view.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace veltrane::test {

inline const QString kOfferTail = QStringLiteral(
    ". . Do you want Delvorn to configure these settings ? (You can skip this and continue with next "
    "protocol by clicking on 'NO' if the indicator display on PC is flickering)");

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

// The configuration row holds these values (compared as text); other columns are not looked at.
inline void expectStored(const QString& folder, const QVariantMap& values) {
    const QVariantMap row = readConfigRow(folder);
    for (auto it = values.begin(); it != values.end(); ++it)
        EXPECT_EQ(row.value(it.key()).toString(), it.value().toString()) << it.key().toStdString();
}

}  // namespace veltrane::test
