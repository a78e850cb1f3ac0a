#include "config/window/feed_group.h"

#include "config/event_log.h"
#include "config/weight_chain.h"
#include "platform/clock.h"

#include "config/settings.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>

namespace veltrane {

FeedGroup::FeedGroup(const QString& title, const char* objectName, QWidget* parent)
    : QGroupBox(title, parent) {
    setObjectName(QString::fromLatin1(objectName));
    new QGridLayout(this);
}

QLineEdit* FeedGroup::addLine(const char* name, const QString& field, int row) {
    auto* grid = static_cast<QGridLayout*>(layout());
    auto* box = new QLineEdit;
    box->setObjectName(QString::fromLatin1(name));
    auto* caption = new QLabel(field);
    caption->setBuddy(box);
    grid->addWidget(caption, row, 0);
    grid->addWidget(box, row, 1);
    return box;
}

std::optional<int> FeedGroup::portNumber(const QLineEdit* box, const QString& field,
                                         std::optional<FeedSettingsError>& refusal) {
    bool number = false;
    const int port = box->text().trimmed().toInt(&number);
    if (number) return port;
    refusal = FeedSettingsError{
        field, field + QStringLiteral(": \"%1\" is not a port number from 1 to 65535.").arg(box->text())};
    return std::nullopt;
}

void FeedGroup::focusField(const QString& field) {
    // A tab's page sits in the tab widget's stack.
    for (QWidget* page = this; page && page->parentWidget(); page = page->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(page->parentWidget()->parentWidget())) {
            tabs->setCurrentWidget(page);
            break;
        }
    }
    for (auto* label : findChildren<QLabel*>())
        if (label->text() == field && label->buddy()) label->buddy()->setFocus();
}

FeedSettings FeedGroup::load(const QString& settingsPath) {
    try {
        auto db = Database::open(settingsPath, QString::fromLatin1(kSettingsDatabaseConnect));
        ensureFeedsTable(*db);
        return readFeedSettings(*db);
    } catch (const DbError&) {
        FeedSettings defaults;
        defaults.mqtttopic = defaultMqttTopic();
        return defaults;
    }
}

bool FeedGroup::save(const QString& settingsPath, const FeedSettings& settings, Prompts& prompts) {
    try {
        auto db = Database::open(settingsPath, QString::fromLatin1(kSettingsDatabaseConnect));
        ensureChainTables(*db);
        // Recorded like the configuration's own Save, in the same transaction as the row.
        inTransaction(*db, [&] {
            const auto feeds = [&db] {
                return rowValues(*db->openRecordSet(QStringLiteral("select * from feeds")));
            };
            const QVariantMap before = feeds();
            writeFeedSettings(*db, settings);
            QJsonObject change = settingsChange(QStringLiteral("feeds"), before, feeds());
            if (change.isEmpty()) return;
            change.insert(QStringLiteral("by"), QStringLiteral("configuration window"));
            appendEvent(*db, generalDate(QDateTime::currentDateTime()), QLatin1String(eventkind::kSettings),
                        change);
        });
        return true;
    } catch (const DbError& e) {
        prompts.message(e.description(), MessageIcon::Exclamation);
        return false;
    }
}

}  // namespace veltrane
