#pragma once
// One running copy per user: the port can be open in one process only, so a copy started from the menu
// while another runs asks that one to show its window and ends. The copies meet on a local socket of
// their own beside the live feed's.

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace veltrane {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Start {
        First,        // no other copy answered: this one runs and answers later starts
        HandedOver,   // the running copy took the request to show itself: end with success
        NotAnswering  // a copy holds the socket but did not confirm within the wait: end with failure
    };

    explicit SingleInstance(const QString& name, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Either reaches the running copy or becomes the one later starts reach. Blocks for at most a few
    // seconds, and only while a running copy is slow to answer.
    Start start();
    QString socketPath() const { return m_path; }

Q_SIGNALS:
    // Another start of the program asked for the window.
    void showRequested();

private:
    void acceptClients();

    QString m_name;
    QString m_path;
    QLocalServer m_server;
};

// <name>.instance in the socket folder (platform/socket_folder.h), beside the live feed's socket.
QString singleInstanceSocketPath(const QString& name);

}  // namespace veltrane
