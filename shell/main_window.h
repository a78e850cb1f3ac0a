#pragma once
// The main window "veltrane": the boxes the weighing core writes, the button row, the clock, the tray.
// Thin on purpose: the start-up sequence and the buttons' logic live in StartupSequence and MainButtons.

#include "core/main_view.h"
#include "shell/access_grant.h"
#include "shell/formlog.h"
#include "shell/main_buttons.h"
#include "shell/password.h"
#include "shell/startup_sequence.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

namespace veltrane {

class CSysTray;
class ElidedLine;

class ProtocolSearch;
class Timer;
class TrayIcon;
class WeighingCore;
struct Services;
struct Settings;

// Class name MainWindow (the namespace already carries the program's name); objectName "veltrane".
// The button row's objectNames are btn0..btn5, by index.
class MainWindow : public QWidget, public MainView, private StartupHost, private ButtonHost {
    Q_OBJECT
public:
    MainWindow(Services& services, Settings& settings, TrayIcon& trayIcon, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Form_Load: EndProgram when the program must end at once.
    StartupResult load();

    WeighingCore& core() { return *m_core; }
    CSysTray& tray() { return *m_tray; }
    AccessGrant& accessGrant() { return m_grant; }
    QPushButton* btn(int index) const { return m_btn[static_cast<size_t>(index)]; }
    Formlog* logViewer() const { return m_formlog; }
    // A stop request from the session or the system: the steps of Close, then the window closes. The
    // rest of a start-up still running (a box was up) does nothing after it.
    void endOnRequest();

    // MainView
    void setWeightText(const QString& text) override;
    void setRawText(const QString& text) override;
    void setRawVisible(bool visible) override;
    bool rawVisible() const override;
    void setStatusText(const QString& text) override;
    void appendStatusText(const QString& text) override;
    void setStableCountText(const QString& text) override;
    void setPortStatusText(const QString& text) override;
    void setPortToolTip(const QString& text) override;
    void setPortNumberText(const QString& text) override;
    void setPortButtonCaption(const QString& text) override;
    void setCaption(const QString& text) override;
    QString caption() const override;

Q_SIGNALS:
    // The loader asked for the program to end at once.
    void endProgram();
    // The window was unloaded (closed); the program ends with it.
    void closed();
    // The configuration window closed; what it saved may concern the outward feeds.
    void configurationClosed();
    // The configuration window saved the outward feeds' settings.
    void feedSettingsSaved();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // StartupHost
    void setLastRecordTime(const QDateTime& time) override;
    void setDateTimeText(const QString& date, const QString& time) override;
    void createTray() override;
    void emptyWeightBox() override;
    LoadResult loadConfiguration() override;
    void changeTrayIcon(const QString& path) override;
    void setTrayToolTip(const QString& tip) override;
    void openSerialPort() override;
    void minToSysTray() override;
    // ButtonHost
    void showConfiguration() override;
    void runWizard() override;
    void showLog() override;
    void closeMainWindow() override;
    void minimise() override;
    bool isPortOpen() override;
    void closePort() override;
    void showPortState() override;

    void buildControls();
    void TimerGen_Timer();
    void showStartOnButton();
    void leave();

    Services& m_services;
    Settings& m_settings;
    TrayIcon& m_trayIcon;
    AccessGrant m_grant;
    std::unique_ptr<WeighingCore> m_core;
    bool m_started = false;  // the event log has this run's start row, so its end gets one too
    std::unique_ptr<CSysTray> m_tray;
    std::unique_ptr<ProtocolSearch> m_wizard;
    std::unique_ptr<DialogPasswordGate> m_password;
    std::unique_ptr<MainButtons> m_buttons;
    std::unique_ptr<Timer> m_timerGen;
    QPointer<Formlog> m_formlog;

    QLineEdit* m_weightdata = nullptr;
    QLineEdit* m_textindi = nullptr;
    ElidedLine* m_textstatus = nullptr;
    QLineEdit* m_stablecount = nullptr;
    QLineEdit* m_porttext = nullptr;
    QLineEdit* m_textport = nullptr;
    QLineEdit* m_dat1 = nullptr;
    QLineEdit* m_tim = nullptr;
    QLabel* m_autosave = nullptr;
    std::array<QPushButton*, MainButtons::Count> m_btn{};
    QPushButton* m_command1 = nullptr;
    QPushButton* m_newWeighment = nullptr;
    bool m_closed = false;
};

}  // namespace veltrane
