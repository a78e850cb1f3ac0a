#pragma once
// The configuration window. Thin: its controls (built tab by tab in config_tabs.cpp), the copy between
// them and the record, help and samples. The rules between its boxes are config/config_form_rules.h,
// reading and writing the record and everything "Save" does are config/config_save.h, the help texts
// config/config_help.h and the log-in start config/autostart.h.
//
// Control arrays are named <array>_<index>: chkFields_12, txtFields_3, help1_0, showsample_1.
// Single controls keep their own names (Combo2, Text5, text1, SSTab1, OKButton, CancelButton);
// portDevice is the device box beside the port list, startAtLogin the log-in start.

#include "config/autostart.h"
#include "config/config_form_rules.h"
#include "config/config_save.h"
#include "config/feed_settings.h"
#include "config/settings.h"
#include "platform/services.h"

#include <QDialog>

#include <map>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QVBoxLayout;

namespace veltrane {

class BrokerFeedGroup;
class WebFeedGroup;

class ConfigScrn1BIN : public QDialog, private ConfigForm {
    Q_OBJECT
public:
    // settings: the program-wide values (help 0 reads them; Save applies to them).
    // accessGranted: cleared at opening, so the password is asked again next time.
    // port: where Save hands the serial port's new settings.
    ConfigScrn1BIN(Settings& settings, Services& services, PortSettingsTarget& port, bool& accessGranted,
                   QWidget* parent = nullptr);
    ~ConfigScrn1BIN() override;

    // The controls as values, and back (filling runs no check-box rule).
    ConfigFormValues values() const;
    void showValues(const ConfigFormValues& values);

Q_SIGNALS:
    // Save could not provide the export database file: the program must end at once.
    void programEndRequested();
    // Save stored table feeds: the outward feeds may restart with the new settings.
    void feedsSaved();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The tabs (config_tabs.cpp), each starting with newTab.
    void buildInterfaceTab();
    void buildWeighmentTab();
    void buildVeltraneTab();
    void buildPasswordTab();
    QVBoxLayout* newTab(const QString& title, const QString& heading);
    // A check box bound to the column, named after its control.
    QCheckBox* addCheck(const char* column, const QString& caption, const QString& toolTip = {});
    QLineEdit* addLine(const char* name, const QString& toolTip = {});
    QComboBox* addList(const char* name, const QStringList& entries, bool editable = false);
    QPushButton* addHelp(QGroupBox* frame, QGridLayout* grid, int index);

    // ConfigForm: the bound boxes by their column.
    bool ticked(const QString& column) const override;
    void setTicked(const QString& column, bool on) override;
    QString text(const QString& column) const override;
    void setText(const QString& column, const QString& text) override;
    void focusBack(const QString& column) override;
    QWidget* box(const QString& column) const;

    void showHelp(int index);
    void showSample(int index);
    void save();
    void showPortDevice();

    Settings& m_settings;
    Services& m_services;
    PortSettingsTarget& m_port;
    ConfigRecordSource m_source;
    ConfigFormRules m_rules;
    AutostartEntry m_autostart;
    QVariant m_outputApplication;
    std::map<int, QString> m_devices;
    bool m_filling = false;

    QTabWidget* m_tabs = nullptr;
    // Bound controls by column (lower case); of the two boxes bound to one column, the first.
    std::map<QString, QWidget*> m_boxes;
    std::map<int, QLineEdit*> m_txt;
    QComboBox* m_portList = nullptr;
    QComboBox* m_portDevice = nullptr;
    QCheckBox* m_startAtLogin = nullptr;
    BrokerFeedGroup* m_brokerFeed = nullptr;
    WebFeedGroup* m_webFeed = nullptr;
    FeedSettings m_feeds;  // table feeds as read or last saved
};

}  // namespace veltrane
