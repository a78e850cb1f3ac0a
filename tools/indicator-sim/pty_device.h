#pragma once
// The pseudo-terminal the simulator plays its indicator on. The simulator keeps a slave descriptor of
// its own open all the time: the pty then never hangs up between readers, its settings persist like a
// real port's, and a reader can close and reopen the path as often as it likes.

#include "tools/indicator-sim/line_settings.h"

#include <QString>

#include <optional>

namespace veltrane::sim {

class PtyDevice {
public:
    PtyDevice() = default;
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    // A new pty, raw, at the given settings; the link (if any) is pointed at it.
    bool create(const LineSettings& settings, QString* error);
    // Closes both sides (readers see the device vanish) and removes the link if it is still ours.
    void destroy();
    bool isOpen() const { return m_master >= 0; }

    int master() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // Points `path` at the slave. An existing symlink there is replaced; anything else is refused.
    bool setLink(const QString& path, QString* error);
    QString linkPath() const { return m_link; }

    // The settings the reader has put on the line, as the pty holds them.
    std::optional<LineSettings> readerSettings() const;
    // Bytes sent to the slave that nobody has read yet, and dropping them.
    int unreadBytes() const;
    void dropUnread();

private:
    void removeLink();

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_link;
};

}  // namespace veltrane::sim
