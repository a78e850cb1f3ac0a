#pragma once
// "Start Veltrane when I log in": the user's XDG autostart entry, autostart/veltrane.desktop under
// $XDG_CONFIG_HOME (~/.config when that is unset or not an absolute path). The desktop session starts
// every enabled entry of that folder at login. Not part of the settings record: it belongs to the user.

#include <QByteArray>
#include <QString>

#include <optional>

namespace veltrane {

class AutostartEntry {
public:
    // program: the absolute path of the program the entry starts (the running one).
    explicit AutostartEntry(QString program);

    QString path() const;
    // True when the entry is there and the session will act on it: an entry the user switched off in the
    // desktop's own start-up settings (Hidden=true, X-GNOME-Autostart-enabled=false) counts as absent.
    bool enabled() const;
    // Writes the entry (on) or removes it (off). Nothing on success, else the reason for the operator.
    std::optional<QString> set(bool on) const;

    // The entry's text for a program; nothing for a path that an Exec line cannot hold.
    static std::optional<QByteArray> entryText(const QString& program);

private:
    QString m_program;
};

}  // namespace veltrane
