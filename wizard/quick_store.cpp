#include "wizard/quick_store.h"

#include "config/settings.h"
#include "platform/database.h"
#include "wizard/protocol_rules.h"

#include <exception>

namespace veltrane {

ThrowRequest throwRequestOf(const QByteArray& request) {
    QByteArray text = request;
    const bool addCr = text.endsWith('\r');
    if (addCr) text.chop(1);
    return {text == "\x05" ? QStringLiteral("ENQ") : QString::fromLatin1(text), addCr};
}

bool storeQuickResult(const QString& path, int portNumber, const QuickResult& result, QString* error) {
    const SettingsFields fields = splitSettings(result.settings);
    const RecordFinding& f = result.finding;
    try {
        const std::unique_ptr<Database> db = Database::open(path, QLatin1String(kSettingsDatabaseConnect));
        const std::unique_ptr<RecordSet> config = db->openRecordSet(QStringLiteral("select * from config "));
        if (config->recordCount() == 0) {
            if (error) *error = QStringLiteral("Could not find the confguration record !");
            return false;
        }
        config->moveFirst();
        config->edit();
        auto set = [&](const char* column, const QVariant& value) {
            config->setField(QString::fromLatin1(column), value);
        };
        const auto yesNo = [](bool on) { return QVariant(on ? -1 : 0); };
        if (f.autosense) {
            set("simpinterface", yesNo(true));
            set("usevalue", yesNo(false));
        } else {
            set("usevalue", yesNo(true));
            set("simpinterface", yesNo(false));
            set("delimiter", delimiterNameOf(f.delimiterCode));
            if (f.match) {
                set("weightstart", f.match->start);
                set("weightend", f.match->start + f.weightLength - 1);
            }
        }
        set("reverseweight", yesNo(f.match && f.match->reversed));
        set("port", portNumber);
        set("baud", fields.baud);
        set("databits", static_cast<int>(fields.dataBits));
        set("stopbits", static_cast<int>(fields.stopBits));
        set("parity", fields.parity.trimmed());
        if (!result.request.isEmpty()) {
            const ThrowRequest t = throwRequestOf(result.request);
            set("throwstring", yesNo(true));
            set("outstring", t.outstring);
            set("addcr", yesNo(t.addCr));
        }
        config->update();
    } catch (const DbError& e) {
        if (error) *error = e.description();
        return false;
    } catch (const std::exception& e) {
        if (error) *error = QString::fromUtf8(e.what());
        return false;
    }
    return true;
}

}  // namespace veltrane
