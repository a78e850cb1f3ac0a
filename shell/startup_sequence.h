#pragma once
// The main window's start-up, step by step, against a host that stands for the window, its tray icon
// and the weighing core. The window is the real host; tests record the calls.

#include "config/loader.h"

#include <QDateTime>
#include <QString>

namespace veltrane {

class Clock;
class Prompts;
struct Settings;

class StartupHost {
public:
    virtual ~StartupHost() = default;
    virtual void setLastRecordTime(const QDateTime& time) = 0;
    virtual void setDateTimeText(const QString& date, const QString& time) = 0;
    // Creates the tray icon object with the main window as its source window.
    virtual void createTray() = 0;
    // weightdata, and with it the live feed's item.
    virtual void emptyWeightBox() = 0;
    virtual LoadResult loadConfiguration() = 0;
    virtual void changeTrayIcon(const QString& path) = 0;
    virtual void setTrayToolTip(const QString& tip) = 0;
    virtual void openSerialPort() = 0;
    virtual void minToSysTray() = 0;
};

enum class StartupResult { Running, EndProgram };

// "/opt/veltrane" -> "/opt/veltrane/"; a folder that already ends in "/" keeps it. Not lower-cased:
// Linux file names are case-sensitive.
QString applicationFolderOf(const QString& programFolder);

class StartupSequence {
public:
    StartupSequence(Prompts& prompts, Clock& clock, const Settings& settings, StartupHost& host)
        : m_prompts(prompts), m_clock(clock), m_settings(settings), m_host(host) {}

    // Runs the whole sequence; EndProgram when a fatal condition was shown and the program must end.
    StartupResult run(const QString& programFolder);
    // The first step alone: shows its messages, EndProgram on failure.
    StartupResult CheckVersionDatabase(const QString& programFolder);

private:
    Prompts& m_prompts;
    Clock& m_clock;
    const Settings& m_settings;
    StartupHost& m_host;
};

}  // namespace veltrane
