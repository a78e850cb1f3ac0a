#pragma once
// The configuration window. Thin: the controls, the rules that keep the check boxes consistent, the
// checks when a box loses the focus, help texts and sample launch. Reading and writing the record and
// everything "Save" does live in config/config_save.h.
//
// Control arrays are named <array>_<index>: chkFields_12, txtFields_3, help1_0, showsample_1.
// Single controls keep their own names (Combo2, Text5, text1, SSTab1, OKButton, CancelButton);
// portDevice is the device box beside the port list.

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

class ConfigScrn1BIN : public QDialog {
    Q_OBJECT
public:
    // settings: the program-wide values (help 0 reads them; Save applies to them).
    // accessGranted: cleared at opening, so the password is asked again next time.
    ConfigScrn1BIN(Settings& settings, Services& services, bool& accessGranted, QWidget* parent = nullptr);
    ~ConfigScrn1BIN() override;

    // The controls as values, and back (filling runs no check-box rule).
    ConfigFormValues values() const;
    void showValues(const ConfigFormValues& values);

Q_SIGNALS:
    // Save could not provide the export database file: the program must end at once.
    void programEndRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildInterfaceTab();
    void buildWeighmentTab();
    void buildVeltraneTab();
    void buildPasswordTab();
    QCheckBox* addCheck(int index, const QString& caption, const QString& toolTip = {});
    QLineEdit* addLine(const char* name, const QString& toolTip = {});
    QComboBox* addList(const char* name, const QStringList& entries, bool editable = false);
    QPushButton* addHelp(QGroupBox* frame, QGridLayout* grid, int index);
    QVBoxLayout* newTab(const QString& title, const QString& heading);

    void checkRule(int index);
    void focusLost(QWidget* box);
    void showHelp(int index);
    void showSample(int index);
    void save();
    void showPortDevice();

    Settings& m_settings;
    Services& m_services;
    ConfigRecordSource m_source;
    QVariant m_outputApplication;
    std::map<int, QString> m_devices;
    bool m_filling = false;

    QTabWidget* m_tabs = nullptr;
    std::map<int, QCheckBox*> m_chk;
    std::map<int, QLineEdit*> m_txt;
    QComboBox* m_portList = nullptr;
    QComboBox* m_portDevice = nullptr;
    BrokerFeedGroup* m_brokerFeed = nullptr;
    FeedSettings m_feeds;  // table feeds as read or last saved
};

}  // namespace veltrane
