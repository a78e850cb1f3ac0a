#pragma once
// Frame layouts of the simulated indicator. Every built-in layout is a template in the same small
// placeholder language that --template offers, so what the help shows is exactly what is sent.

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace veltrane::sim {

struct Reading {
    double weight = 0;  // in display units (kg, t, ...), may be negative around zero
    bool stable = true;
    double tare = 0;
    int decimals = 0;
    QString unit = QStringLiteral("kg");
};

struct FrameFormat {
    const char* name;
    const char* templateText;  // escapes as the user writes them (\r, \n, \xNN)
    const char* description;
};

const std::vector<FrameFormat>& builtinFormats();
const FrameFormat* findFormat(const QString& name);

// Text as the user writes it: \r \n \t \\ \xNN and the names <STX> <ETX> <ENQ> <ACK> <NAK> <CR> <LF>.
std::optional<QByteArray> unescape(const QString& text, QString* error = nullptr);
// Bytes back into that form, for messages and logs.
QString escape(const QByteArray& bytes);

// Placeholders: {weight} {sign} {tare} {gross} {implied} {reversed} {unit} {status} {motion}, each
// optionally with a width: {weight:06} pads with zeros, {weight:7} with spaces on the left. Text that
// is not a placeholder passes unchanged; "{{" is a literal "{".
std::optional<QByteArray> expandTemplate(const QByteArray& templ, const Reading& reading,
                                         QString* error = nullptr);

// The frame of a built-in format, or of the user's template when format is "template".
std::optional<QByteArray> makeFrame(const QString& format, const Reading& reading,
                                    const QByteArray& userTemplate = {}, QString* error = nullptr);

}  // namespace veltrane::sim
