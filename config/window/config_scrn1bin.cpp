#include "config/window/config_scrn1bin.h"

#include "config/config_help.h"
#include "config/numbers.h"
#include "config/window/broker_feed_group.h"
#include "config/window/web_feed_group.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace veltrane {

namespace {

// Lists whose value can only be chosen, never typed.
const char* const kFixedLists[] = {"Combo1", "Combo2", "Combo3", "Combo4", "Combo5", "Combo6", "Combo8"};
// What the two sample buttons start from the application folder: the web feed's sample page in the
// default browser, and the live feed's sample client program.
const char* const kSampleDocument = "veltrane-sample.html";
const char* const kSampleClient = "quorlink";

void setComboText(QComboBox* combo, const QString& text) {
    if (combo->isEditable()) {
        combo->setEditText(text);
        return;
    }
    if (text.isEmpty()) {
        combo->setCurrentIndex(-1);
        return;
    }
    int i = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (i < 0) {
        // A stored value outside the entries (a rate the wizard found, say) is shown as it is,
        // so that the window shows what is stored and Save does not lose it.
        combo->addItem(text);
        i = combo->count() - 1;
    }
    combo->setCurrentIndex(i);
}

}  // namespace

ConfigScrn1BIN::ConfigScrn1BIN(Settings& settings, Services& services, PortSettingsTarget& port,
                               bool& accessGranted, QWidget* parent)
    : QDialog(parent),
      m_settings(settings),
      m_services(services),
      m_port(port),
      m_source(services.appFolder + QString::fromLatin1(kSettingsDatabaseName), &services.clock),
      m_rules(*this, services.prompts, services.appFolder),
      m_autostart(QCoreApplication::applicationFilePath()) {
    setObjectName(QStringLiteral("ConfigScrn1BIN"));
    setWindowTitle(QStringLiteral("Configuration"));

    auto* layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("SSTab1"));
    layout->addWidget(m_tabs);
    // The tabs in the order shown; a further tab is added after these.
    buildInterfaceTab();
    buildWeighmentTab();
    buildVeltraneTab();
    buildPasswordTab();
    QVBoxLayout* feedTab = newTab(QStringLiteral("Feeds"), QStringLiteral("Outward feeds of the weight"));
    feedTab->addWidget(m_brokerFeed = new BrokerFeedGroup);
    feedTab->addStretch();
    QVBoxLayout* webTab =
        newTab(QStringLiteral("Web feed"), QStringLiteral("The weight for web pages and ERPs"));
    webTab->addWidget(m_webFeed = new WebFeedGroup);
    webTab->addStretch();
    m_feeds = FeedGroup::load(services.appFolder + QString::fromLatin1(kSettingsDatabaseName));
    m_brokerFeed->showSettings(m_feeds);
    m_webFeed->showSettings(m_feeds);

    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("Save"));
    ok->setObjectName(QStringLiteral("OKButton"));
    auto* cancel = new QPushButton(QStringLiteral("Exit"));
    cancel->setObjectName(QStringLiteral("CancelButton"));
    // Neither is a default button: Enter in a box must not save behind the super-user's back.
    ok->setAutoDefault(false);
    cancel->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, [this] { save(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    for (const ConfigBinding& b : configBindings()) {
        if (QWidget* w = findChild<QWidget*>(QString::fromLatin1(b.control)))
            m_boxes.emplace(QString::fromLatin1(b.column).toLower(), w);
    }
    for (const char* name : kFixedLists)
        findChild<QComboBox*>(QString::fromLatin1(name))->installEventFilter(this);
    for (const QString& column : ConfigFormRules::checkedWhenLeft()) box(column)->installEventFilter(this);

    // Opening: delimiter names, the stored row, the first tab, output types, and the access flag.
    // (Combo6 and Combo8 got their entries when built: filling them after the row changes nothing.)
    ConfigFormValues stored;
    if (m_source.read(stored)) showValues(stored);
    m_startAtLogin->setChecked(m_autostart.enabled());
    m_tabs->setCurrentIndex(0);
    accessGranted = false;
}

ConfigScrn1BIN::~ConfigScrn1BIN() = default;

// --- the boxes by column, for the rules

QWidget* ConfigScrn1BIN::box(const QString& column) const {
    const auto it = m_boxes.find(column.toLower());
    Q_ASSERT_X(it != m_boxes.end(), "ConfigScrn1BIN::box", qPrintable(column));
    return it == m_boxes.end() ? nullptr : it->second;
}

bool ConfigScrn1BIN::ticked(const QString& column) const {
    const auto* check = qobject_cast<QCheckBox*>(box(column));
    return check && check->isChecked();
}

void ConfigScrn1BIN::setTicked(const QString& column, bool on) {
    auto* check = qobject_cast<QCheckBox*>(box(column));
    if (!check) return;
    const QSignalBlocker quiet(check);
    check->setChecked(on);
}

QString ConfigScrn1BIN::text(const QString& column) const {
    QWidget* w = box(column);
    if (auto* line = qobject_cast<QLineEdit*>(w)) return line->text();
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText();
    return {};
}

void ConfigScrn1BIN::setText(const QString& column, const QString& text) {
    QWidget* w = box(column);
    if (auto* line = qobject_cast<QLineEdit*>(w)) line->setText(text);
    if (auto* combo = qobject_cast<QComboBox*>(w)) setComboText(combo, text);
}

void ConfigScrn1BIN::focusBack(const QString& column) {
    QWidget* w = box(column);
    // Not from inside the focus change that is still going on.
    if (w) QTimer::singleShot(0, w, [w] { w->setFocus(Qt::OtherFocusReason); });
}

// --- the controls as values

ConfigFormValues ConfigScrn1BIN::values() const {
    ConfigFormValues v;
    for (const ConfigBinding& b : configBindings()) {
        QWidget* w = findChild<QWidget*>(QString::fromLatin1(b.control));
        if (b.check >= 0) {
            v.chkFields[static_cast<std::size_t>(b.check)] = qobject_cast<QCheckBox*>(w)->isChecked();
            continue;
        }
        if (auto* line = qobject_cast<QLineEdit*>(w)) *b.text(v) = line->text();
        if (auto* combo = qobject_cast<QComboBox*>(w)) *b.text(v) = combo->currentText();
    }
    v.txtFields[0] = m_txt.at(0)->text();
    v.txtFields[2] = m_txt.at(2)->text();
    v.outputApplication = m_outputApplication;
    v.portDevices = m_devices;
    return v;
}

void ConfigScrn1BIN::showValues(const ConfigFormValues& values) {
    const bool wasFilling = m_filling;
    m_filling = true;
    ConfigFormValues v = values;
    for (const ConfigBinding& b : configBindings()) {
        QWidget* w = findChild<QWidget*>(QString::fromLatin1(b.control));
        if (b.check >= 0) {
            qobject_cast<QCheckBox*>(w)->setChecked(v.chkFields[static_cast<std::size_t>(b.check)]);
            continue;
        }
        if (auto* line = qobject_cast<QLineEdit*>(w)) line->setText(*b.text(v));
        if (auto* combo = qobject_cast<QComboBox*>(w)) setComboText(combo, *b.text(v));
    }
    m_txt.at(0)->setText(v.txtFields[0]);
    m_txt.at(2)->setText(v.txtFields[2]);
    if (auto* hidden = findChild<QCheckBox*>(QStringLiteral("outputApplication")))
        hidden->setChecked(!values.outputApplication.isNull() && values.outputApplication.toLongLong() != 0);
    m_outputApplication = values.outputApplication;
    m_devices = values.portDevices;
    showPortDevice();
    m_filling = wasFilling;
}

void ConfigScrn1BIN::showPortDevice() {
    const int port = static_cast<int>(leadingNumberValue(m_portList->currentText()));
    const bool wasFilling = m_filling;
    m_filling = true;
    if (port < 1) {
        m_portDevice->setEditText(QString());
    } else {
        auto it = m_devices.find(port);
        if (it == m_devices.end()) it = m_devices.emplace(port, m_source.deviceOf(port)).first;
        m_portDevice->setEditText(it->second);
    }
    m_filling = wasFilling;
}

// --- events and buttons

bool ConfigScrn1BIN::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && qobject_cast<QComboBox*>(watched)) {
        // Fixed lists: a key that would type (or jump to an entry by its first letter) is discarded.
        if (!static_cast<QKeyEvent*>(event)->text().isEmpty()) return true;
    }
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // Another window coming up (our own message boxes among them) is not leaving the box.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            for (const QString& column : ConfigFormRules::checkedWhenLeft()) {
                if (box(column) == watched) m_rules.boxLeft(column);
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ConfigScrn1BIN::showHelp(int index) {
    for (const QString& text : configHelpTexts(index, m_settings.FORWEIGHBRIDGE))
        m_services.prompts.message(text);
}

void ConfigScrn1BIN::showSample(int index) {
    const QString file =
        m_services.appFolder + QString::fromLatin1(index == 0 ? kSampleDocument : kSampleClient);
    if (file.trimmed().isEmpty()) return;
    const bool started = index == 0 ? m_services.shell.open(file) : m_services.shell.startProgram(file);
    if (!started)
        m_services.prompts.message(QStringLiteral("Failed to start '") + file + QLatin1Char('\''),
                                   MessageIcon::Information);
}

void ConfigScrn1BIN::save() {
    // The feeds' boxes are checked first, so that a refusal there saves nothing at all.
    FeedSettings feeds = m_feeds;
    if (const auto error = m_webFeed->readSettings(feeds)) {
        m_services.prompts.message(error->message, MessageIcon::Exclamation);
        m_webFeed->focusField(error->field);
        return;
    }
    if (const auto error = m_brokerFeed->readSettings(feeds)) {
        m_services.prompts.message(error->message, MessageIcon::Exclamation);
        m_brokerFeed->focusField(error->field);
        return;
    }
    ConfigFormValues v = values();
    ConfigSave saver(m_source, m_settings, m_services, m_port);
    const SaveOutcome outcome = saver.save(v);
    showValues(v);
    if (outcome == SaveOutcome::Saved && m_startAtLogin->isChecked() != m_autostart.enabled()) {
        if (const std::optional<QString> why = m_autostart.set(m_startAtLogin->isChecked())) {
            m_services.prompts.message(
                QStringLiteral("Veltrane could not change its start at log-in. ") + *why,
                MessageIcon::Exclamation);
        }
    }
    if (outcome == SaveOutcome::Saved &&
        FeedGroup::save(m_services.appFolder + QString::fromLatin1(kSettingsDatabaseName), feeds,
                        m_services.prompts)) {
        m_feeds = feeds;
        Q_EMIT feedsSaved();
    }
    if (outcome == SaveOutcome::EndProgram) {
        Q_EMIT programEndRequested();
        reject();
    }
}

}  // namespace veltrane
