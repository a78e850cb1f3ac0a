#include "shell/main_window.h"

#include "config/event_log.h"
#include "config/settings.h"
#include "config/window/config_scrn1bin.h"
#include "core/port_control.h"
#include "core/weighing_core.h"
#include "platform/program_identity.h"
#include "platform/services.h"
#include "platform/timers.h"
#include "shell/c_sys_tray.h"
#include "shell/elided_line.h"
#include "shell/formlog.h"
#include "wizard/protocol_search.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace veltrane {

namespace {

QLineEdit* box(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setReadOnly(true);
    return edit;
}

}  // namespace

MainWindow::MainWindow(Services& services, Settings& settings, TrayIcon& trayIcon, QWidget* parent)
    : QWidget(parent), m_services(services), m_settings(settings), m_trayIcon(trayIcon) {
    setObjectName(QStringLiteral("veltrane"));
    setWindowTitle(QStringLiteral("Marlume Veltrane Ver 3.0"));
    buildControls();
    m_core = std::make_unique<WeighingCore>(m_services, m_settings, *this, this);
    connect(m_core.get(), &WeighingCore::endProgramRequested, this, &MainWindow::endProgram);
    m_wizard = std::make_unique<ProtocolSearch>(m_services, m_settings, *this, m_core->port(),
                                                m_core->searchTrials());
    m_wizard->setQuickSearch(true);
    m_password =
        std::make_unique<DialogPasswordGate>(m_grant, m_settings.accessPassword, m_services.prompts, this);
    ButtonHost& host = *this;
    m_buttons = std::make_unique<MainButtons>(m_services.prompts, *m_password, host);

    m_timerGen = m_services.timers.createTimer(false);
    m_timerGen->setInterval(10000);
    m_timerGen->onTick([this] { TimerGen_Timer(); });
    m_timerGen->setEnabled(true);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls() {
    m_weightdata = box(this, "weightdata");
    // The weight box is the live feed's item: it must never keep the focus (or a typed key would change it).
    m_weightdata->setFocusPolicy(Qt::NoFocus);
    QFont big = m_weightdata->font();
    big.setPointSize(28);
    big.setBold(true);
    m_weightdata->setFont(big);
    m_weightdata->setAlignment(Qt::AlignRight);
    m_weightdata->setMinimumHeight(56);
    m_textindi = box(this, "Textindi");
    m_textstatus = new ElidedLine(this);
    m_textstatus->setObjectName(QStringLiteral("Textstatus"));
    m_stablecount = box(this, "stablecounttxt");
    m_stablecount->setToolTip(QStringLiteral("Count of Stable readings"));
    m_stablecount->setMaximumWidth(60);
    m_porttext = box(this, "PORTTEXT");
    m_porttext->setText(QStringLiteral("PORT OFF"));
    m_textport = box(this, "Textport");
    m_textport->setMaximumWidth(60);
    m_textport->installEventFilter(this);
    m_dat1 = box(this, "dat1");
    m_tim = box(this, "tim");
    m_autosave = new QLabel(QStringLiteral("AUTO SAVE ON"), this);
    m_autosave->setObjectName(QStringLiteral("autosavetxt"));

    auto* buttons = new QHBoxLayout;
    for (int i = 0; i < MainButtons::Count; ++i) {
        auto* b = new QPushButton(MainButtons::caption(i), this);
        b->setObjectName(QStringLiteral("btn%1").arg(i));
        connect(b, &QPushButton::clicked, this, [this, i] { m_buttons->click(i); });
        m_btn[static_cast<size_t>(i)] = b;
        buttons->addWidget(b);
    }
    m_command1 = new QPushButton(QStringLiteral("Test voice"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    connect(m_command1, &QPushButton::clicked, this,
            [this] { m_core->AnnounceWeight(QStringLiteral("6600")); });
    m_newWeighment = new QPushButton(QStringLiteral("New weighment"), this);
    m_newWeighment->setObjectName(QStringLiteral("newWeighment"));
    m_newWeighment->setVisible(false);
    connect(m_newWeighment, &QPushButton::clicked, this, [this] { m_core->rearmByHand(); });

    auto* grid = new QGridLayout;
    grid->addWidget(m_weightdata, 0, 0, 1, 4);
    grid->addWidget(m_stablecount, 0, 4);
    grid->addWidget(m_textindi, 1, 0, 1, 5);
    grid->addWidget(m_textstatus, 2, 0, 1, 5);
    grid->addWidget(m_porttext, 3, 0);
    grid->addWidget(m_textport, 3, 1);
    grid->addWidget(m_dat1, 3, 2);
    grid->addWidget(m_tim, 3, 3);
    grid->addWidget(m_autosave, 3, 4);
    auto* extra = new QHBoxLayout;
    extra->addWidget(m_command1);
    extra->addWidget(m_newWeighment);
    extra->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(extra);
    layout->addLayout(buttons);
    resize(620, 260);
}

StartupResult MainWindow::load() {
    StartupSequence startup(m_services.prompts, m_services.clock, m_settings, *this);
    const StartupResult result = startup.run(m_services.appFolder);
    if (result == StartupResult::Running) {
        const ProgramIdentity identity = programIdentity();
        m_core->recordEvent(QLatin1String(eventkind::kStart),
                            {{QStringLiteral("version"), identity.version},
                             {QStringLiteral("identity"), identity.digest},
                             {QStringLiteral("files"), QJsonArray::fromStringList(identity.files)}});
        m_started = true;
    }
    return result;
}

// --- MainView

void MainWindow::setWeightText(const QString& text) {
    m_weightdata->setText(text);
}
void MainWindow::setRawText(const QString& text) {
    m_textindi->setText(text);
}
void MainWindow::setRawVisible(bool visible) {
    m_textindi->setVisible(visible);
}
bool MainWindow::rawVisible() const {
    return !m_textindi->isHidden();
}
void MainWindow::setStatusText(const QString& text) {
    m_textstatus->setText(text);
}
void MainWindow::appendStatusText(const QString& text) {
    m_textstatus->setText(m_textstatus->text() + text);
}
void MainWindow::setStableCountText(const QString& text) {
    m_stablecount->setText(text);
}
void MainWindow::setPortStatusText(const QString& text) {
    m_porttext->setText(text);
}
void MainWindow::setPortToolTip(const QString& text) {
    m_porttext->setToolTip(text);
}
void MainWindow::setPortNumberText(const QString& text) {
    m_textport->setText(text);
}
void MainWindow::setPortButtonCaption(const QString& text) {
    m_btn[MainButtons::Port]->setText(text);
}
void MainWindow::setCaption(const QString& text) {
    setWindowTitle(text);
}
QString MainWindow::caption() const {
    return windowTitle();
}

// --- start-up

void MainWindow::setLastRecordTime(const QDateTime& time) {
    m_core->setLastRecordTime(time);
}

void MainWindow::setDateTimeText(const QString& date, const QString& time) {
    m_dat1->setText(date);
    m_tim->setText(time);
}

void MainWindow::createTray() {
    m_tray = std::make_unique<CSysTray>(m_trayIcon);
    m_tray->setSourceWindow(this);
}

void MainWindow::emptyWeightBox() {
    m_core->setWeightData(QString());
}

LoadResult MainWindow::loadConfiguration() {
    const LoadResult result = m_core->loadConfiguration();
    showStartOnButton();
    return result;
}

void MainWindow::changeTrayIcon(const QString& path) {
    m_tray->ChangeIcon(path);
    setWindowIcon(QIcon(path));
}

void MainWindow::setTrayToolTip(const QString& tip) {
    m_tray->setToolTip(tip);
}

void MainWindow::openSerialPort() {
    // Closed during a start-up box (a stop request): the rest of the start-up does nothing.
    if (m_closed) return;
    m_core->OpenSerialPort();
    showStartOnButton();
}

void MainWindow::minToSysTray() {
    if (m_tray && !m_closed) m_tray->MinToSysTray();
}

void MainWindow::showStartOnButton() {
    m_newWeighment->setVisible(m_settings.Startonbutton);
}

void MainWindow::TimerGen_Timer() {
    const QDateTime now = m_services.clock.now();
    setDateTimeText(shortDate(now.date()), shortTime(now.time()));
}

// --- buttons

void MainWindow::showConfiguration() {
    ConfigScrn1BIN window(m_settings, m_services, m_core->port(), m_grant.granted, this);
    connect(&window, &ConfigScrn1BIN::programEndRequested, this, &MainWindow::endProgram);
    connect(&window, &ConfigScrn1BIN::feedsSaved, this, &MainWindow::feedSettingsSaved);
    window.exec();
    showStartOnButton();
    Q_EMIT configurationClosed();
}

void MainWindow::runWizard() {
    m_wizard->RunInterfaceWizard();
}

void MainWindow::showLog() {
    if (m_formlog) {
        m_formlog->showNormal();
        m_formlog->raise();
        m_formlog->activateWindow();
        return;
    }
    m_formlog = new Formlog({m_services.prompts, m_services.clock, m_services.events, *m_password,
                             m_services.appFolder + QLatin1String(kSettingsDatabaseName)},
                            this);
    m_formlog->setAttribute(Qt::WA_DeleteOnClose);
    m_formlog->show();
}

void MainWindow::closeMainWindow() {
    close();
}

void MainWindow::minimise() {
    setWindowState(windowState() | Qt::WindowMinimized);
}

bool MainWindow::isPortOpen() {
    return m_core->isPortOpen();
}

void MainWindow::closePort() {
    m_core->closePortByButton();
}

void MainWindow::showPortState() {
    m_core->port().showState();
}

// --- window events

void MainWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        // Hiding from inside the state change confuses some window managers; do it right after.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) minToSysTray();
        });
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    leave();
    event->accept();
    Q_EMIT closed();
}

void MainWindow::endOnRequest() {
    // A window that was never shown gets no close event from close(): the steps are taken here first.
    leave();
    close();
}

void MainWindow::leave() {
    if (m_closed) return;
    m_closed = true;
    // A search left running would hold the port, with no window, for as long as its combinations last;
    // it ends at its next wait, and the program with it.
    m_wizard->stop();
    if (m_started) {
        m_core->recordEvent(QLatin1String(eventkind::kEnd), {{QStringLiteral("version"), programVersion()}});
        m_started = false;
    }
    if (m_tray) m_tray->RemoveFromSysTray();
    if (m_formlog) m_formlog->close();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_textport && event->type() == QEvent::MouseButtonDblClick) m_core->ToggleRawDisplay();
    return QWidget::eventFilter(watched, event);
}

}  // namespace veltrane
