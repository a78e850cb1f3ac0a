#include "config/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <utility>

namespace veltrane {

namespace {

// An Exec line's program as desktop environments read it: quoted when it holds a reserved
// character, with '"', '`', '$' and '\' escaped inside the quotes and '%' doubled (it starts field codes);
// then the escapes of a string value, which double every backslash again.
std::optional<QString> execValue(const QString& program) {
    static const QString reserved = QStringLiteral(" \"'\\><~|&;$*?#()`");
    static const QString escaped = QStringLiteral("\"`$\\");
    QString argument;
    bool quoted = false;
    for (const QChar c : program) {
        // A control character has no place in a path a session could start from a text line.
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) return std::nullopt;
        if (reserved.contains(c)) quoted = true;
        if (escaped.contains(c)) argument += QLatin1Char('\\');
        if (c == QLatin1Char('%')) argument += QLatin1Char('%');
        argument += c;
    }
    if (quoted) argument = QLatin1Char('"') + argument + QLatin1Char('"');
    return argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
}

// The value of key in the [Desktop Entry] group, or an empty text.
QString entryValue(const QByteArray& text, const QByteArray& key) {
    bool inEntry = false;
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (inEntry && equals > 0 && line.left(equals).trimmed() == key)
            return QString::fromUtf8(line.mid(equals + 1).trimmed());
    }
    return {};
}

}  // namespace

AutostartEntry::AutostartEntry(QString program) : m_program(std::move(program)) {}

QString AutostartEntry::path() const {
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base =
        QDir::isAbsolutePath(configHome) ? configHome : QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart/veltrane.desktop");
}

bool AutostartEntry::enabled() const {
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray text = file.readAll();
    return entryValue(text, "Hidden") != QLatin1String("true") &&
           entryValue(text, "X-GNOME-Autostart-enabled") != QLatin1String("false");
}

std::optional<QByteArray> AutostartEntry::entryText(const QString& program) {
    if (!QDir::isAbsolutePath(program)) return std::nullopt;
    const std::optional<QString> exec = execValue(program);
    if (!exec) return std::nullopt;
    return QByteArrayLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Veltrane\n"
               "Comment=Serves the weight of the weighbridge indicator to other programs\n"
               "Exec=") +
           exec->toUtf8() +
           QByteArrayLiteral(
               "\n"
               "Icon=veltrane\n"
               "Terminal=false\n");
}

std::optional<QString> AutostartEntry::set(bool on) const {
    const QString file = path();
    if (!on) {
        if (!QFileInfo::exists(file) || QFile::remove(file)) return std::nullopt;
        return QStringLiteral("Cannot remove ") + file;
    }
    const std::optional<QByteArray> text = entryText(m_program);
    if (!text) return QStringLiteral("A start-up entry cannot name the program ") + m_program;
    if (!QDir().mkpath(QFileInfo(file).path())) return QStringLiteral("Cannot make the folder of ") + file;
    // Written whole or not at all: a session must never meet half an entry.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(*text) != text->size() || !out.commit())
        return QStringLiteral("Cannot write ") + file + QStringLiteral(": ") + out.errorString();
    return std::nullopt;
}

}  // namespace veltrane
