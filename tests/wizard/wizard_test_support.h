#pragma once
// What the wizard's search tests share: a main window that records its title and port box, and a real
// settings database with one configuration row.

#include "config/schema.h"
#include "config/settings.h"
#include "core/main_view.h"
#include "platform/database.h"

#include <QStringList>

namespace veltrane::test {

class RecordingView final : public MainView {
public:
    void setWeightText(const QString& text) override { weight = text; }
    void setRawText(const QString&) override {}
    void setRawVisible(bool visible) override { m_raw = visible; }
    bool rawVisible() const override { return m_raw; }
    void setStatusText(const QString&) override {}
    void appendStatusText(const QString&) override {}
    void setStableCountText(const QString&) override {}
    void setPortStatusText(const QString& text) override { portStatus = text; }
    void setPortToolTip(const QString&) override {}
    void setPortNumberText(const QString&) override {}
    void setPortButtonCaption(const QString&) override {}
    void setCaption(const QString& text) override {
        m_caption = text;
        captions << text;
    }
    QString caption() const override { return m_caption; }

    QString weight;
    QString portStatus;
    QStringList captions;

private:
    QString m_caption = QStringLiteral("Veltrane");
    bool m_raw = false;
};

// The installation's scale.mdb in the folder, with position decoding on ";" 7..9 so that a test can tell
// the columns the wizard wrote from those it left alone.
inline void makeSettingsDatabase(const QString& folder) {
    createSettingsDatabase(folder + QLatin1String(kSettingsDatabaseName), folder);
    auto db = Database::open(folder + QLatin1String(kSettingsDatabaseName), QLatin1String(kSettingsDatabaseConnect));
    db->execute(QStringLiteral(
        "update config set delimiter = ';', weightstart = 7, weightend = 9, simpinterface = 0, usevalue = -1"));
}

inline QVariantMap readConfigRow(const QString& folder) {
    auto db = Database::open(folder + QLatin1String(kSettingsDatabaseName), QLatin1String(kSettingsDatabaseConnect));
    auto rows = db->openRecordSet(QStringLiteral("select * from config"));
    rows->moveFirst();
    QVariantMap row;
    for (const QString& name : rows->fieldNames()) row[name] = rows->field(name);
    return row;
}

}  // namespace veltrane::test
