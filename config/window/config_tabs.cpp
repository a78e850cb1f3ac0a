// The configuration window's first four tabs, in the order shown. The feeds' tabs ("Feeds", "Web feed")
// hold groups of their own and are added in the window's constructor after these.

#include "config/numbers.h"
#include "config/window/config_scrn1bin.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QTabWidget>
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

QStringList numbersFrom(int first, int last) {
    QStringList out;
    for (int i = first; i <= last; ++i) out << QString::number(i);
    return out;
}

// The control bound to a column (chkFields_<index> for a check box).
const char* controlOf(const char* column) {
    for (const ConfigBinding& b : configBindings()) {
        if (QString::fromLatin1(b.column).compare(QLatin1String(column), Qt::CaseInsensitive) == 0)
            return b.control;
    }
    Q_ASSERT_X(false, "controlOf", column);
    return column;
}

}  // namespace

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

QCheckBox* ConfigScrn1BIN::addCheck(const char* column, const QString& caption, const QString& toolTip) {
    auto* box = new QCheckBox(caption);
    box->setObjectName(QString::fromLatin1(controlOf(column)));
    if (!toolTip.isEmpty()) box->setToolTip(toolTip);
    const QString name = QString::fromLatin1(column);
    // Only changes made on the screen: the rules set boxes without this signal and follow up themselves.
    connect(box, &QCheckBox::toggled, this, [this, name] {
        if (!m_filling) m_rules.checkChanged(name);
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
        // After the classic rates, those of current indicators (many default to 19200 or 115200).
        {"Combo1",
         {QStringLiteral("300"), QStringLiteral("600"), QStringLiteral("1200"), QStringLiteral("2400"),
          QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
          QStringLiteral("57600"), QStringLiteral("115200")}},
        {"Combo3", {QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("9")}},
        {"Combo4", {QStringLiteral("1"), QStringLiteral("2")}},
        {"Combo5", {QStringLiteral("o"), QStringLiteral("e"), QStringLiteral("n")}},
    };
    const char* labels[] = {"Baud:", "Data bits:", "Stop bits:", "Parity:"};
    // Two lists a row, so that the tab fits a screen of 720 lines at 150% scaling.
    for (int i = 0; i < 4; ++i) {
        g->addWidget(new QLabel(QString::fromLatin1(labels[i])), 1 + i / 2, 2 * (i % 2));
        g->addWidget(addList(lists[i].first, lists[i].second), 1 + i / 2, 2 * (i % 2) + 1, Qt::AlignLeft);
    }
    g->setColumnStretch(3, 1);
    addHelp(serial, g, 6);
    tab->addWidget(serial);

    auto* method = new QGroupBox(QStringLiteral("Autosensing or position based  protocol"));
    g = new QGridLayout(method);
    g->addWidget(
        addCheck("simpinterface",
                 QStringLiteral("1. Enable auto-sense to automatically sense delimiter and data position"),
                 QStringLiteral("Indicator weight is automatically decoded without manual configuration of "
                                "string position.")),
        0, 0, 1, 2);
    g->addWidget(
        addCheck("usevalue",
                 QStringLiteral("2. Use  delimiter and weight-string position based decoding as below"),
                 QStringLiteral("auto-sense will be disabled and the following manual configuration would "
                                "be used.")),
        1, 0, 1, 2);
    g->addWidget(new QLabel(QStringLiteral(
                     "In the string transmitted by the indicator, weight data starts at position")),
                 2, 0);
    g->addWidget(addLine("Text2"), 2, 1);
    g->addWidget(new QLabel(QStringLiteral(
                     "In the string transmitted by the indicator, weight data ends at position")),
                 3, 0);
    g->addWidget(addLine("Text3"), 3, 1);
    g->addWidget(new QLabel(QStringLiteral(
                     "If you do not know the string positions, then enter zero in both columns")),
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
        "reverseweight",
        QStringLiteral("The indicator sends the weight string in reverse order (eg: 100 is sent as 001)")));
    row->addWidget(reverse);
    auto* decimals = new QGroupBox(QStringLiteral("Insert decimal points"));
    g = new QGridLayout(decimals);
    g->addWidget(
        addCheck("iNSERTDECIMALS", QStringLiteral("Insert decimal point in the weight data"),
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
        addCheck("throwstring",
                 QStringLiteral("A string has to be sent to the indicator every 200 milliseconds. ")),
        0, 0);
    g->addWidget(
        addCheck("addcr", QStringLiteral("Send Carriage return to the indicator after sending the string"),
                 QStringLiteral("After sending the string, carriage return character is sent")),
        1, 0);
    g->addWidget(new QLabel(QStringLiteral("String to be sent:")), 0, 1);
    QComboBox* request =
        addList("text1",
                {QStringLiteral("ENQ"), QStringLiteral(" "), QStringLiteral("$"), QStringLiteral("?")}, true);
    request->setToolTip(
        QStringLiteral("This character/byte is sent to the indicator as a data-send request"));
    g->addWidget(request, 0, 2);
    g->setColumnStretch(2, 1);
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
            "Startauto",
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
        addCheck("Startonbutton", QStringLiteral("New weighment starts when new weighment button is pressed"),
                 QStringLiteral("When indicator sends weight, save the weighment. Used when indicator sends "
                                "single data block  when a key is pressed, or when weight is stable.")),
        1, 0, 1, 2);
    addHelp(starting, g, 0);
    tab->addWidget(starting);

    auto* saving = new QGroupBox(QStringLiteral("Saving a weighment"));
    g = new QGridLayout(saving);
    g->addWidget(
        addCheck("saveonbutton",
                 QStringLiteral("Weighment data record is saved when indicator sends any weight above "
                                "minimum weight ie:"),
                 QStringLiteral("When indicator sends weight, save the weighment. Used when indicator sends "
                                "single data block  when a print key is pressed, or when weight is stable.")),
        0, 0);
    g->addWidget(addLine("Text7"), 0, 1);
    g->addWidget(
        new QLabel(QStringLiteral("(Use this when indicator sends weight only once when weight is stable, or "
                                  "when print button on indicator is pressed)")),
        1, 0, 1, 2);
    g->addWidget(
        addCheck("AutosaveonStableWeight",
                 QStringLiteral("Indicator sends weight continuously. Record should be saved automatically "
                                "when the weight becomes stable."),
                 QStringLiteral("When the weight data sent by indicator becomes stable, save the weighment "
                                "automatically")),
        2, 0, 1, 2);
    g->addWidget(
        new QLabel(QStringLiteral("Minimum number of stable readings to be received to qualify the weight as "
                                  "stable :")),
        3, 0);
    QLineEdit* readings = addLine(
        "Text6",
        QStringLiteral("continuous stable readings are sent when the truck stabilises on the platform."));
    g->addWidget(readings, 3, 1);
    g->addWidget(new QLabel(QStringLiteral(
                     "To qualify for stable reading, consecutive weight readings must be within a "
                     "decimal digit accuracy of  :")),
                 4, 0);
    g->addWidget(addLine("Text9", QStringLiteral("For general requirements, use 0")), 4, 1);
    g->addWidget(new QLabel(QStringLiteral("For autosaving, weight should be stable and must be above")), 5,
                 0);
    g->addWidget(addLine("Text10"), 5, 1);
    g->addWidget(
        new QLabel(QStringLiteral("(This can be 500 Kgs less than the empty weight of lighest truck)")), 6, 0,
        1, 2);
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
        addCheck("FORWEIGHBRIDGE",
                 QStringLiteral("Veltrane is  used to serve weight from weighbridge (truck weighing)")));
    // Not bound to the record: the log-in start belongs to the desktop user, and Save applies it.
    m_startAtLogin = new QCheckBox(QStringLiteral("Start Veltrane when I log in"));
    m_startAtLogin->setObjectName(QStringLiteral("startAtLogin"));
    av->addWidget(m_startAtLogin);
    tab->addWidget(application);

    auto* voice = new QGroupBox(QStringLiteral("Voice alert for each weighment"));
    auto* g = new QGridLayout(voice);
    g->addWidget(addCheck("activateVoiceAlert",
                          QStringLiteral("After receiving a stable weight and/or transferring it to a "
                                         "file/clipboard,  activate voice announcement of weight")),
                 0, 0);
    g->addWidget(
        addCheck("voicealertnormal",
                 QStringLiteral("When speaking the weight digits, just speak each digit separately")),
        1, 0);
    addHelp(voice, g, 3);
    tab->addWidget(voice);

    auto* data = new QGroupBox(QStringLiteral("Data export for each weighment"));
    g = new QGridLayout(data);
    g->addWidget(new QLabel(QStringLiteral("Output file type:")), 0, 0);
    g->addWidget(addList("Combo8", kOutputTypes), 0, 1);
    g->addWidget(new QLabel(QStringLiteral(
                     "(For access database option weight, date/time, uniqueID would be available "
                     "as  fields)")),
                 1, 0, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("Save output file in :")), 2, 0);
    QLineEdit* folder = addLine("txtFields_3", QStringLiteral("folder where output file is to be saved"));
    m_txt[3] = folder;
    g->addWidget(folder, 2, 1);
    g->addWidget(
        addCheck("appendTimeStamp",
                 QStringLiteral("Clipboard data must have date and time information also (weight, date "
                                "time  eg: 6000,17-Aug-11 10:44:19)")),
        3, 0, 1, 2);
    g->addWidget(addCheck("OutputClipboard",
                          QStringLiteral("Copy final stable weight from weighing indicator to clipboard")),
                 4, 0, 1, 2);
    g->addWidget(
        addCheck("EnableDDE",
                 QStringLiteral("Allow Veltrane to work like DDE server and serve weight to any DDE client")),
        5, 0, 1, 2);
    const char* samples[] = {"Show the sample web page in the browser",
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

}  // namespace veltrane
