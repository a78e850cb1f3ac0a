#pragma once
// The weight-log viewer: the records of a range of days in a grid, and their deletion behind two
// confirmations and the access password. Modeless: weighing goes on while it is open.

#include <QString>
#include <QWidget>

#include <array>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace veltrane {

class Clock;
class Database;
class EventPump;
class PasswordGate;
class Prompts;
class WeightLogModel;

class Formlog : public QWidget {
    Q_OBJECT
public:
    struct Deps {
        Prompts& prompts;
        Clock& clock;
        EventPump& events;
        PasswordGate& password;
        QString databasePath;  // the settings database
    };
    // Loads: opens the weight log, puts today into both date boxes and searches.
    explicit Formlog(const Deps& deps, QWidget* parent = nullptr);
    ~Formlog() override;

    QLineEdit* eventdate(int index) const { return m_eventdate[static_cast<size_t>(index)]; }
    QTableView* DBGrid1() const { return m_grid; }
    QString gridCaption() const;
    QPushButton* wipeButton() const { return m_wipe; }
    // The chain check's report, as the "Verify" button shows it; empty when the log is not open.
    QString verifyReport();
    WeightLogModel& model() const { return *m_model; }

    // The handlers, public so that tests drive them as the operator would.
    void showall();
    void wipe();
    void checkDate(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void updatePosition();
    QString today() const;

    Deps m_deps;
    std::unique_ptr<Database> m_database;
    WeightLogModel* m_model;
    QTableView* m_grid;
    QLabel* m_caption;
    std::array<QLineEdit*, 2> m_eventdate{};
    QPushButton* m_showall;
    QPushButton* m_wipe;
    QPushButton* m_verify;
    QPushButton* m_cmdclose;
    bool m_deleting = false;
    bool m_closeRequested = false;
};

}  // namespace veltrane
