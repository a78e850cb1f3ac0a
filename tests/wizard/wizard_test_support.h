#pragma once
// What the wizard's search tests share: a main window that records its title and port box, and a real
// settings database with one configuration row.

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

// scale.mdb in the folder, keyed as the program keys it, with the config columns the wizard writes.
inline void createSettingsDatabase(const QString& folder) {
    auto db = Database::create(folder + QLatin1String(kSettingsDatabaseName), QLatin1String(kSettingsDatabaseConnect));
    db->execute(QStringLiteral(
        "create table config (simpinterface integer, usevalue integer, delimiter text, weightstart integer, "
        "weightend integer, reverseweight integer, port integer, baud integer, databits text, stopbits text, "
        "parity text)"));
    db->execute(QStringLiteral("insert into config values (0, -1, ';', 7, 9, 0, 1, 9600, '8', '1', 'n')"));
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
