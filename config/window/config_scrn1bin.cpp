#include "config/window/config_scrn1bin.h"

#include "config/numbers.h"
#include "config/window/broker_feed_group.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace veltrane {

namespace {

const QStringList kDelimiterNames{QStringLiteral("CR"), QStringLiteral("SPACE"), QStringLiteral("ETX"),
                                  QStringLiteral("LF"), QStringLiteral("ETB"),   QStringLiteral("="),
                                  QStringLiteral("]"),  QStringLiteral(","),     QStringLiteral(";"),
                                  QStringLiteral("}"),  QStringLiteral(")"),     QStringLiteral("+")};
const QStringList kOutputTypes{QStringLiteral("CSV file with no headings"),
                               QStringLiteral("CSV file with headings"),
                               QStringLiteral("Access file with three fields")};
// Lists whose value can only be chosen, never typed.
const char* const kFixedLists[] = {"Combo1", "Combo2", "Combo3", "Combo4", "Combo5", "Combo6", "Combo8"};

QStringList numbersFrom(int first, int last) {
    QStringList out;
    for (int i = first; i <= last; ++i) out << QString::number(i);
    return out;
}

QLabel* wrapped(const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

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
        // A stored value outside the entries (the wizard may store 38400 baud) is shown as it is,
        // so that the window shows what is stored and Save does not lose it.
        combo->addItem(text);
        i = combo->count() - 1;
    }
    combo->setCurrentIndex(i);
}

}  // namespace

ConfigScrn1BIN::ConfigScrn1BIN(Settings& settings, Services& services, bool& accessGranted, QWidget* parent)
    : QDialog(parent),
      m_settings(settings),
      m_services(services),
      m_source(services.appFolder + QString::fromLatin1(kSettingsDatabaseName)) {
    setObjectName(QStringLiteral("ConfigScrn1BIN"));
    setWindowTitle(QStringLiteral("Configuration"));

    auto* layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("SSTab1"));
    layout->addWidget(m_tabs);
    buildInterfaceTab();
    buildWeighmentTab();
    buildVeltraneTab();
    buildPasswordTab();
    QVBoxLayout* feedTab = newTab(QStringLiteral("Feeds"), QStringLiteral("Outward feeds of the weight"));
    feedTab->addWidget(m_brokerFeed = new BrokerFeedGroup);
    feedTab->addStretch();
    m_feeds = BrokerFeedGroup::load(services.appFolder + QString::fromLatin1(kSettingsDatabaseName));
    m_brokerFeed->showSettings(m_feeds);

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

    for (const char* name : kFixedLists)
        findChild<QComboBox*>(QString::fromLatin1(name))->installEventFilter(this);
    for (const char* name : {"Combo2", "Text2", "Text3", "Text5", "txtFields_3"})
        findChild<QWidget*>(QString::fromLatin1(name))->installEventFilter(this);

    // Opening: delimiter names, the stored row, the first tab, output types, and the access flag.
    // (Combo6 and Combo8 got their entries when built: filling them after the row changes nothing.)
    ConfigFormValues stored;
    if (m_source.read(stored)) showValues(stored);
    m_tabs->setCurrentIndex(0);
    accessGranted = false;
}

ConfigScrn1BIN::~ConfigScrn1BIN() = default;

QVBoxLayout* ConfigScrn1BIN::newTab(const QString& title, const QString& heading) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* label = new QLabel(heading);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.3);
    label->setFont(font);
    label->setObjectName(QStringLiteral("heading"));
    layout->addWidget(label);
    m_tabs->addTab(page, title);
    return layout;
}

QCheckBox* ConfigScrn1BIN::addCheck(int index, const QString& caption, const QString& toolTip) {
    auto* box = new QCheckBox(caption);
    box->setObjectName(QStringLiteral("chkFields_%1").arg(index));
    if (!toolTip.isEmpty()) box->setToolTip(toolTip);
    m_chk[index] = box;
    connect(box, &QCheckBox::toggled, this, [this, index] {
        if (!m_filling) checkRule(index);
    });
    return box;
}

QLineEdit* ConfigScrn1BIN::addLine(const char* name, const QString& toolTip) {
    auto* box = new QLineEdit;
    box->setObjectName(QString::fromLatin1(name));
    if (!toolTip.isEmpty()) box->setToolTip(toolTip);
    return box;
}

QComboBox* ConfigScrn1BIN::addList(const char* name, const QStringList& entries, bool editable) {
    auto* combo = new QComboBox;
    combo->setObjectName(QString::fromLatin1(name));
    combo->setEditable(editable);
    combo->addItems(entries);
    combo->setCurrentIndex(-1);
    return combo;
}

QPushButton* ConfigScrn1BIN::addHelp(QGroupBox* frame, QGridLayout* grid, int index) {
    auto* button = new QPushButton(QStringLiteral("help"), frame);
    button->setObjectName(QStringLiteral("help1_%1").arg(index));
    button->setAutoDefault(false);
    grid->addWidget(button, 0, grid->columnCount(), Qt::AlignRight | Qt::AlignTop);
    connect(button, &QPushButton::clicked, this, [this, index] { showHelp(index); });
    return button;
}

void ConfigScrn1BIN::buildInterfaceTab() {
    QVBoxLayout* tab = newTab(QStringLiteral("Interface"), QStringLiteral("Indicator Interface"));

    auto* serial = new QGroupBox(QStringLiteral("Serial port hardware settings"));
    auto* g = new QGridLayout(serial);
    m_portList = addList("Combo2", numbersFrom(1, 14));
    m_portDevice = addList("portDevice", {}, true);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        m_portDevice->addItem(info.systemLocation());
    m_portDevice->setToolTip(QStringLiteral("The device this port number opens on this computer"));
    connect(m_portList, &QComboBox::currentTextChanged, this, [this] { showPortDevice(); });
    connect(m_portDevice, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        const int port = static_cast<int>(leadingNumberValue(m_portList->currentText()));
        if (!m_filling && port > 0) m_devices[port] = text;
    });
    g->addWidget(new QLabel(QStringLiteral("COM (Serial) Port:")), 0, 0);
    g->addWidget(m_portList, 0, 1);
    g->addWidget(new QLabel(QStringLiteral("Device:")), 0, 2);
    g->addWidget(m_portDevice, 0, 3);
    const std::pair<const char*, QStringList> lists[] = {
        {"Combo1",
         {QStringLiteral("300"), QStringLiteral("600"), QStringLiteral("1200"), QStringLiteral("2400"),
          QStringLiteral("4800"), QStringLiteral("9600")}},
        {"Combo3", {QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("9")}},
        {"Combo4", {QStringLiteral("1"), QStringLiteral("2")}},
        {"Combo5", {QStringLiteral("o"), QStringLiteral("e"), QStringLiteral("n")}},
    };
    const char* labels[] = {"Baud:", "Data bits:", "Stop bits:", "Parity:"};
    for (int i = 0; i < 4; ++i) {
        g->addWidget(new QLabel(QString::fromLatin1(labels[i])), 1 + i, 0);
        g->addWidget(addList(lists[i].first, lists[i].second), 1 + i, 1);
    }
    g->setColumnStretch(3, 1);
    addHelp(serial, g, 6);
    tab->addWidget(serial);

    auto* method = new QGroupBox(QStringLiteral("Autosensing or position based  protocol"));
    g = new QGridLayout(method);
    g->addWidget(
        addCheck(12,
                 QStringLiteral("1. Enable auto-sense to automatically sense delimiter and data position"),
                 QStringLiteral("Indicator weight is automatically decoded without manual configuration of "
                                "string position.")),
        0, 0, 1, 2);
    g->addWidget(
        addCheck(9, QStringLiteral("2. Use  delimiter and weight-string position based decoding as below"),
                 QStringLiteral("auto-sense will be disabled and the following manual configuration would "
                                "be used.")),
        1, 0, 1, 2);
    g->addWidget(
        wrapped(QStringLiteral("In the string transmitted by the indicator, weight data starts at position")),
        2, 0);
    g->addWidget(addLine("Text2"), 2, 1);
    g->addWidget(
        wrapped(QStringLiteral("In the string transmitted by the indicator, weight data ends at position")),
        3, 0);
    g->addWidget(addLine("Text3"), 3, 1);
    g->addWidget(
        wrapped(QStringLiteral("If you do not know the string positions, then enter zero in both columns")),
        4, 0, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("Delimiter (End of data marker):")), 5, 0);
    QComboBox* delimiter = addList("Combo6", kDelimiterNames);
    delimiter->setToolTip(
        QStringLiteral("This character/byte is sent by indicator to mark end of data string. "
                       "Generally carriage return or space is used as delimiter."));
    g->addWidget(delimiter, 5, 1);
    tab->addWidget(method);

    auto* row = new QHBoxLayout;
    auto* reverse = new QGroupBox(QStringLiteral("Reverse style"));
    auto* rv = new QVBoxLayout(reverse);
    rv->addWidget(addCheck(
        3,
        QStringLiteral("The indicator sends the weight string in reverse order (eg: 100 is sent as 001)")));
    row->addWidget(reverse);
    auto* decimals = new QGroupBox(QStringLiteral("Insert decimal points"));
    g = new QGridLayout(decimals);
    g->addWidget(
        addCheck(6, QStringLiteral("Insert decimal point in the weight data"),
                 QStringLiteral("Indicator sends weight without decimal point, but decimal point is actually "
                                "required")),
        0, 0, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("Number of decimal points")), 1, 0);
    g->addWidget(addLine("Text5"), 1, 1);
    row->addWidget(decimals);
    tab->addLayout(row);

    auto* throwing = new QGroupBox(QStringLiteral("Throw string"));
    g = new QGridLayout(throwing);
    g->addWidget(
        addCheck(0, QStringLiteral("A string has to be sent to the indicator every 200 milliseconds. ")), 0,
        0, 1, 2);
    g->addWidget(addCheck(4, QStringLiteral("Send Carriage return to the indicator after sending the string"),
                          QStringLiteral("After sending the string, carriage return character is sent")),
                 1, 0, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("String to be sent:")), 2, 0);
    QComboBox* request =
        addList("text1",
                {QStringLiteral("ENQ"), QStringLiteral(" "), QStringLiteral("$"), QStringLiteral("?")}, true);
    request->setToolTip(
        QStringLiteral("This character/byte is sent to the indicator as a data-send request"));
    g->addWidget(request, 2, 1);
    g->setColumnStretch(1, 1);
    tab->addWidget(throwing);
    tab->addStretch();
}

void ConfigScrn1BIN::buildWeighmentTab() {
    QVBoxLayout* tab = newTab(QStringLiteral("Weighment data and method"),
                              QStringLiteral("How to initiate and complete a weighment"));

    auto* start = new QGroupBox(QStringLiteral("Start mode"));
    auto* g = new QGridLayout(start);
    g->addWidget(
        addCheck(
            1,
            QStringLiteral("When  Veltrane starts, automatically open the serial port and connect to "
                           "the indicator"),
            QStringLiteral("Instead of manually pressing the 'open port' button to connect to indicator, "
                           "open the port automatically when veltrane is executed.")),
        0, 0);
    addHelp(start, g, 1);
    tab->addWidget(start);

    auto* starting = new QGroupBox(QStringLiteral("Starting a new weighment"));
    g = new QGridLayout(starting);
    g->addWidget(new QLabel(QStringLiteral("Weighing process will only start if the weight is above :")), 0,
                 0);
    g->addWidget(addLine("Text4"), 0, 1);
    g->addWidget(
        addCheck(24, QStringLiteral("New weighment starts when new weighment button is pressed"),
                 QStringLiteral("When indicator sends weight, save the weighment. Used when indicator sends "
                                "single data block  when a key is pressed, or when weight is stable.")),
        1, 0, 1, 2);
    addHelp(starting, g, 0);
    tab->addWidget(starting);

    auto* saving = new QGroupBox(QStringLiteral("Saving a weighment"));
    g = new QGridLayout(saving);
    g->addWidget(
        addCheck(26,
                 QStringLiteral("Weighment data record is saved when indicator sends any weight above "
                                "minimum weight ie:"),
                 QStringLiteral("When indicator sends weight, save the weighment. Used when indicator sends "
                                "single data block  when a print key is pressed, or when weight is stable.")),
        0, 0);
    g->addWidget(addLine("Text7"), 0, 1);
    g->addWidget(
        wrapped(QStringLiteral("(Use this when indicator sends weight only once when weight is stable, or "
                               "when print button on indicator is pressed)")),
        1, 0, 1, 2);
    g->addWidget(
        addCheck(22,
                 QStringLiteral("Indicator sends weight continuously. Record should be saved automatically "
                                "when the weight becomes stable."),
                 QStringLiteral("When the weight data sent by indicator becomes stable, save the weighment "
                                "automatically")),
        2, 0, 1, 2);
    g->addWidget(
        wrapped(QStringLiteral("Minimum number of stable readings to be received to qualify the weight as "
                               "stable :")),
        3, 0);
    QLineEdit* readings = addLine(
        "Text6",
        QStringLiteral("continuous stable readings are sent when the truck stabilises on the platform."));
    g->addWidget(readings, 3, 1);
    g->addWidget(
        wrapped(QStringLiteral("To qualify for stable reading, consecutive weight readings must be within a "
                               "decimal digit accuracy of  :")),
        4, 0);
    g->addWidget(addLine("Text9", QStringLiteral("For general requirements, use 0")), 4, 1);
    g->addWidget(wrapped(QStringLiteral("For autosaving, weight should be stable and must be above")), 5, 0);
    g->addWidget(addLine("Text10"), 5, 1);
    g->addWidget(wrapped(QStringLiteral("(This can be 500 Kgs less than the empty weight of lighest truck)")),
                 6, 0, 1, 2);
    addHelp(saving, g, 2);
    tab->addWidget(saving);
    tab->addStretch();

    // Both boxes show MinimumAutosaveWeight: keep them equal so that what Save stores is what both show.
    auto* minimum7 = findChild<QLineEdit*>(QStringLiteral("Text7"));
    auto* minimum10 = findChild<QLineEdit*>(QStringLiteral("Text10"));
    connect(minimum7, &QLineEdit::textEdited, minimum10, &QLineEdit::setText);
    connect(minimum10, &QLineEdit::textEdited, minimum7, &QLineEdit::setText);
}

void ConfigScrn1BIN::buildVeltraneTab() {
    QVBoxLayout* tab =
        newTab(QStringLiteral("Veltrane"), QStringLiteral("How to serve weight to another application"));

    auto* application = new QGroupBox(QStringLiteral("Application"));
    auto* av = new QVBoxLayout(application);
    av->addWidget(
        addCheck(2, QStringLiteral("Veltrane is  used to serve weight from weighbridge (truck weighing)")));
    tab->addWidget(application);

    auto* voice = new QGroupBox(QStringLiteral("Voice alert for each weighment"));
    auto* g = new QGridLayout(voice);
    g->addWidget(addCheck(14, QStringLiteral("After receiving a stable weight and/or transferring it to a "
                                             "file/clipboard,  activate voice announcement of weight")),
                 0, 0);
    g->addWidget(
        addCheck(5, QStringLiteral("When speaking the weight digits, just speak each digit separately")), 1,
        0);
    addHelp(voice, g, 3);
    tab->addWidget(voice);

    auto* data = new QGroupBox(QStringLiteral("Data export for each weighment"));
    g = new QGridLayout(data);
    g->addWidget(new QLabel(QStringLiteral("Output file type:")), 0, 0);
    g->addWidget(addList("Combo8", kOutputTypes), 0, 1);
    g->addWidget(
        wrapped(QStringLiteral("(For access database option weight, date/time, uniqueID would be available "
                               "as  fields)")),
        1, 0, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("Save output file in :")), 2, 0);
    QLineEdit* folder = addLine("txtFields_3", QStringLiteral("folder where output file is to be saved"));
    m_txt[3] = folder;
    g->addWidget(folder, 2, 1);
    g->addWidget(
        addCheck(7, QStringLiteral("Clipboard data must have date and time information also (weight, date "
                                   "time  eg: 6000,17-Aug-11 10:44:19)")),
        3, 0, 1, 2);
    g->addWidget(
        addCheck(10, QStringLiteral("Copy final stable weight from weighing indicator to clipboard")), 4, 0,
        1, 2);
    g->addWidget(
        addCheck(8,
                 QStringLiteral("Allow Veltrane to work like DDE server and serve weight to any DDE client")),
        5, 0, 1, 2);
    const char* samples[] = {"Show demo Sample DDE client in Excel",
                             "Demo Sample DDE client in VB6/VB.NET Program"};
    for (int i = 0; i < 2; ++i) {
        auto* button = new QPushButton(QString::fromLatin1(samples[i]));
        button->setObjectName(QStringLiteral("showsample_%1").arg(i));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, i] { showSample(i); });
        g->addWidget(button, 6 + i, 0, 1, 2, Qt::AlignLeft);
    }
    g->setColumnStretch(1, 1);
    addHelp(data, g, 4);
    tab->addWidget(data);

    // Bound to columns nobody acts on; kept so that they pass through a save unchanged.
    auto* outputApplication = new QCheckBox(data);
    outputApplication->setObjectName(QStringLiteral("outputApplication"));
    outputApplication->hide();
    auto* applicationName = addLine("ApplicationName");
    applicationName->setParent(data);
    applicationName->hide();
    tab->addStretch();
}

void ConfigScrn1BIN::buildPasswordTab() {
    QVBoxLayout* tab = newTab(QStringLiteral("Password"), QStringLiteral("Super-user password change"));
    auto* access = new QGroupBox(QStringLiteral("Access control - password change"));
    auto* g = new QGridLayout(access);
    const std::pair<int, const char*> boxes[] = {{0, "New password:"}, {2, "New password again:"}};
    int row = 0;
    for (const auto& [index, label] : boxes) {
        QLineEdit* box = addLine(QStringLiteral("txtFields_%1").arg(index).toLatin1().constData());
        box->setEchoMode(QLineEdit::Password);
        m_txt[index] = box;
        g->addWidget(new QLabel(QString::fromLatin1(label)), row, 0);
        g->addWidget(box, row, 1);
        ++row;
    }
    addHelp(access, g, 5);
    QLineEdit* stored = addLine("txtFields_7");
    stored->setParent(access);
    stored->hide();
    m_txt[7] = stored;
    tab->addWidget(access);
    tab->addStretch();
}

ConfigFormValues ConfigScrn1BIN::values() const {
    ConfigFormValues v;
    for (const ConfigBinding& b : configBindings()) {
        if (b.check >= 0) {
            v.chkFields[static_cast<std::size_t>(b.check)] = m_chk.at(b.check)->isChecked();
            continue;
        }
        QWidget* w = findChild<QWidget*>(QString::fromLatin1(b.control));
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
        if (b.check >= 0) {
            m_chk.at(b.check)->setChecked(v.chkFields[static_cast<std::size_t>(b.check)]);
            continue;
        }
        QWidget* w = findChild<QWidget*>(QString::fromLatin1(b.control));
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

void ConfigScrn1BIN::checkRule(int index) {
    auto ticked = [this](int i) { return m_chk.at(i)->isChecked(); };
    auto set = [this](int i, bool on) { m_chk.at(i)->setChecked(on); };
    switch (index) {
        case 14:
        case 5:
            // Digits can be spoken separately only when the voice is on.
            if (!ticked(14)) set(5, false);
            break;
        case 22:
        case 26:
            // Exactly one saving method.
            if (ticked(22) && ticked(26)) set(index == 22 ? 26 : 22, false);
            if (!ticked(22) && !ticked(26)) set(26, true);
            break;
        case 9:
        case 12: {
            // Exactly one decoding method.
            const int other = index == 9 ? 12 : 9;
            if (ticked(index) && ticked(other))
                set(other, false);
            else if (!ticked(index) && !ticked(other))
                set(other, true);
            break;
        }
        default:
            break;
    }
}

bool ConfigScrn1BIN::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && qobject_cast<QComboBox*>(watched)) {
        // Fixed lists: a key that would type (or jump to an entry by its first letter) is discarded.
        if (!static_cast<QKeyEvent*>(event)->text().isEmpty()) return true;
    }
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // Another window coming up (our own message boxes among them) is not leaving the box.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            focusLost(static_cast<QWidget*>(watched));
    }
    return QDialog::eventFilter(watched, event);
}

void ConfigScrn1BIN::focusLost(QWidget* box) {
    Prompts& prompts = m_services.prompts;
    const QString name = box->objectName();
    if (name == QLatin1String("Combo2")) {
        const QString text = m_portList->currentText();
        if (text.isEmpty() || text == QLatin1String("0")) setComboText(m_portList, QStringLiteral("1"));
        return;
    }
    auto* line = qobject_cast<QLineEdit*>(box);
    if (!line) return;
    const QString text = line->text();
    if (name == QLatin1String("Text2") || name == QLatin1String("Text3")) {
        if (text.isEmpty() || !isNumeric(text)) line->setText(QStringLiteral("0"));
    } else if (name == QLatin1String("Text5")) {
        if (line->text().isEmpty()) {
            prompts.beep();
            line->setText(QStringLiteral("0"));
        }
        if (!isNumeric(line->text())) {
            prompts.beep();
            line->setText(QStringLiteral("0"));
        }
        const double places = leadingNumberValue(line->text());
        if (places > 11 || places < 0) {
            prompts.beep();
            prompts.beep();
            line->setText(QStringLiteral("0"));
        }
    } else if (name == QLatin1String("txtFields_3")) {
        if (text.isEmpty()) {
            prompts.beep();
            prompts.message(QStringLiteral("Defaulting to application folder.."));
            line->setText(m_services.appFolder);
            return;
        }
        QString folder = text;
        if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
        line->setText(folder);
        if (!folderHasOrdinaryFile(folder)) {
            prompts.beep();
            prompts.message(
                QStringLiteral("Folder does not exist or folder is empty!! Folder should exist and there "
                               "should be at least one file (any file) inside the folder!!"));
            // Not from inside the focus change that is still going on.
            QTimer::singleShot(0, line, [line] { line->setFocus(Qt::OtherFocusReason); });
        }
    }
}

void ConfigScrn1BIN::showHelp(int index) {
    static const char* const texts[] = {
        nullptr,  // 0 depends on the installation kind
        "When veltrane is executed, it opens the serial port automatically if you set this option. After "
        "making "
        "sure that your indicator is interfaced properly and you are receiving the weight correctly, you can "
        "enable "
        "this, so that user does not have to manually open the serial port every time the software starts. "
        "You can "
        "also add veltrane software to windows startup folder to automatically start it when windows boots.",
        "There are two ways that the weight will get saved (served).\n"
        "1) Indicator sends weight once when the weight is stable, or when the operator presses 'print' "
        "button\n"
        "2) Indicator sends weight continuously. When the software finds stable weight coming from "
        "indicator, then "
        "it saves that weight. To decide whether the weight is stable, it looks for continuous stable "
        "readings above "
        "a certain value. ",
        "Served (transferred) weight will be announced after saving the weight if the option is enabled. ",
        "1. After each weighment, weight data along with date and time are stored in CSV format or access 97 "
        "file "
        "format. Last weighment is overwritten if present. File path can be in the network.\n"
        "2. If enabled, veltrane software will also behave like a DDE server, serving weight continuously. "
        "If DDE "
        "client is added to the target application, you can receive indicator weight.\n"
        "3. If clipboard option is enabled, then stable weight is copied to clipboard so that you can paste "
        "it into "
        "target application.",
        "Access to some of the modules/features is limited by a password. Password can be changed here. "
        "Default "
        "password is 'pavix'",
        "You can use indicator interface wizard to automatically find the indicator connection details and "
        "protocol. You can also configure the connection manually.",
    };
    Prompts& prompts = m_services.prompts;
    if (index == 0) {
        // The installation kind as last loaded, not the box on the screen.
        prompts.message(
            m_settings.FORWEIGHBRIDGE
                ? QStringLiteral(
                      "Only when the weight sent by the indicator goes above this value, Veltrane will "
                      "assume that a truck is on the platform. After each weighment, when weight sent by "
                      "the indicator goes below this value, Veltrane will will assume that the truck has "
                      "moved out of the platform. This value must be around 400 Kgs for normal operation.")
                : QStringLiteral(
                      "Only when the weight sent by the indicator goes above this value, Veltrane will "
                      "assume that the material (product) to be weighed is on the platform. After each "
                      "weighment, when weight sent by the indicator goes below this value, Veltrane will "
                      "will assume that the material has been moved out of the platform. This value must "
                      "be 10  to 20 percent of the normal material weight"));
        return;
    }
    prompts.message(QString::fromLatin1(texts[index]));
    if (index == 4) {
        prompts.message(
            QStringLiteral("There is a sample excel sheet available that can receive weight from Veltrane. "
                           "You can find it in the program directory."));
    }
}

void ConfigScrn1BIN::showSample(int index) {
    const QString file = m_services.appFolder +
                         (index == 0 ? QStringLiteral("DDEclientsample.xls") : QStringLiteral("quorlink"));
    if (file.trimmed().isEmpty()) return;
    if (!m_services.shell.open(file))
        m_services.prompts.message(QStringLiteral("Failed to start '") + file + QLatin1Char('\''),
                                   MessageIcon::Information);
}

void ConfigScrn1BIN::save() {
    // The feeds' boxes are checked first, so that a refusal there saves nothing at all.
    FeedSettings feeds = m_feeds;
    if (const auto error = m_brokerFeed->readSettings(feeds)) {
        m_services.prompts.message(error->message, MessageIcon::Exclamation);
        m_brokerFeed->focusField(error->field);
        return;
    }
    ConfigFormValues v = values();
    ConfigSave saver(m_source, m_settings, m_services);
    const SaveOutcome outcome = saver.save(v);
    showValues(v);
    if (outcome == SaveOutcome::Saved &&
        BrokerFeedGroup::save(m_services.appFolder + QString::fromLatin1(kSettingsDatabaseName), feeds,
                              m_services.prompts))
        m_feeds = feeds;
    if (outcome == SaveOutcome::EndProgram) {
        Q_EMIT programEndRequested();
        reject();
    }
}

}  // namespace veltrane
