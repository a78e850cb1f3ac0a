#pragma once
// Loading the configuration record into the program-wide settings.

#include "config/settings.h"
#include "platform/services.h"

#include <QString>

namespace veltrane {

// The main-window boxes and serial control the loader touches. The weighing core implements it for
// the real window; tests fake it.
class LoaderView {
public:
    virtual ~LoaderView() = default;
    virtual bool portIsOpen() = 0;
    // Closes the port, shows "PORT OFF !" and empties the weight box.
    virtual void closePortForReload() = 0;
    virtual void setPortSettingsText(const QString& text) = 0;
    virtual void setPortToolTip(const QString& text) = 0;
    virtual void setPortNumberText(const QString& text) = 0;
    virtual void setDdeTopic(const QString& topic) = 0;
};

enum class LoadResult { Completed, EndProgram };

class ConfigLoader {
public:
    ConfigLoader(Settings& settings, Services& services, LoaderView& view);
    // Runs the whole load. EndProgram means the program must end at once (the export template cannot
    // be provided); no later step has run.
    LoadResult load();
    QString settingsDatabasePath() const;

private:
    Settings& m_settings;
    Services& m_services;
    LoaderView& m_view;
};

// Output location and type, shared with the configuration window's save.
// Reads the two columns from values already taken from the record.
struct OutputColumns {
    bool locationNull = true;
    QString location;
    bool typeNull = true;
    QString type;
};
enum class OutputTypeMode { Loader, Save };
// An output folder counts as there when it holds at least one ordinary file: a folder the program can
// only see as empty (a share not mounted, a path one letter off) is worth a warning.
bool folderHasOrdinaryFile(const QString& folder);  // Save: a Null type changes nothing and says nothing
LoadResult applyOutputLocation(Settings& settings, Services& services, const OutputColumns& columns);
LoadResult applyOutputType(Settings& settings, Services& services, const OutputColumns& columns,
                           OutputTypeMode mode);

}  // namespace veltrane
