#include "tools/indicator-sim/frame_format.h"

#include <algorithm>
#include <cmath>

namespace veltrane::sim {

namespace {

const std::vector<FrameFormat> kFormats = {
    {"st-gs", "{status},GS,{sign}{weight:06}{unit}\\r\\n",
     "status ST (stable) or US (unstable), gross, signed six-digit weight, unit, CR LF"},
    {"padded", "{sign}{weight:7} {unit}\\r\\n",
     "sign, weight right-aligned in seven places padded with blanks, blank, unit, CR LF"},
    {"stx-cr", "<STX>{sign}{weight:06}{unit}\\r", "STX, signed six-digit weight, unit, CR"},
    {"stx-etx", "<STX>{motion}{sign}{weight:07}<ETX>",
     "STX, status S (stable) or M (motion), signed seven-digit weight, ETX"},
    {"reversed",
     "{reversed:06}=", "six weight digits least significant first, then \"=\" (1234 is sent as 432100=)"},
    {"tare-net", "T:+{tare:06}{unit} N:{sign}{weight:06}{unit}\\r\\n",
     "tare, then the net weight, both six digits with unit, CR LF (set the tare with --tare)"},
    {"implied", "W{implied:06}\\r\\n",
     "W, weight without its decimal point in six digits (12.34 with --decimals 2 is W001234), CR LF"},
    {"plain", "{weight}\\r\\n", "the bare weight, CR LF"},
    {"template", "", "the text given with --template (placeholders as listed below)"},
};

struct Control {
    const char* name;
    char code;
};
const Control kControls[] = {{"STX", 2}, {"ETX", 3}, {"ENQ", 5},  {"ACK", 6}, {"NAK", 21},
                             {"CR", 13}, {"LF", 10}, {"ETB", 23}, {"ESC", 27}};

int hexValue(QChar c) {
    if (c >= u'0' && c <= u'9') return c.unicode() - '0';
    if (c >= u'a' && c <= u'f') return c.unicode() - 'a' + 10;
    if (c >= u'A' && c <= u'F') return c.unicode() - 'A' + 10;
    return -1;
}

QByteArray pad(const QByteArray& text, const QByteArray& width) {
    if (width.isEmpty()) return text;
    const bool zeros = width.startsWith('0');
    const int w = width.toInt();
    if (text.size() >= w) return text;
    return QByteArray(w - text.size(), zeros ? '0' : ' ') + text;
}

QByteArray fixed(double value, int decimals) {
    return QByteArray::number(std::fabs(value), 'f', decimals);
}

}  // namespace

const std::vector<FrameFormat>& builtinFormats() {
    return kFormats;
}

const FrameFormat* findFormat(const QString& name) {
    for (const FrameFormat& f : kFormats)
        if (name == QLatin1String(f.name)) return &f;
    return nullptr;
}

std::optional<QByteArray> unescape(const QString& text, QString* error) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'<') {
            const qsizetype end = text.indexOf(u'>', i);
            bool found = false;
            if (end > i) {
                const QString name = text.mid(i + 1, end - i - 1);
                for (const Control& k : kControls)
                    if (name == QLatin1String(k.name)) {
                        out.append(k.code);
                        i = end;
                        found = true;
                        break;
                    }
            }
            if (!found) out.append('<');
            continue;
        }
        if (c != u'\\') {
            if (c.unicode() > 255) {
                if (error) *error = QStringLiteral("character %1 is not a single byte").arg(c);
                return std::nullopt;
            }
            out.append(static_cast<char>(c.unicode()));
            continue;
        }
        if (++i >= text.size()) {
            if (error) *error = QStringLiteral("\"\\\" at the end of \"%1\"").arg(text);
            return std::nullopt;
        }
        switch (text.at(i).unicode()) {
            case 'r':
                out.append('\r');
                break;
            case 'n':
                out.append('\n');
                break;
            case 't':
                out.append('\t');
                break;
            case '\\':
                out.append('\\');
                break;
            case 'x': {
                const int hi = i + 1 < text.size() ? hexValue(text.at(i + 1)) : -1;
                const int lo = i + 2 < text.size() ? hexValue(text.at(i + 2)) : -1;
                if (hi < 0 || lo < 0) {
                    if (error) *error = QStringLiteral("\\x needs two hex digits in \"%1\"").arg(text);
                    return std::nullopt;
                }
                out.append(static_cast<char>(hi * 16 + lo));
                i += 2;
                break;
            }
            default:
                if (error) *error = QStringLiteral("unknown escape \\%1 in \"%2\"").arg(text.at(i)).arg(text);
                return std::nullopt;
        }
    }
    if (error) error->clear();
    return out;
}

QString escape(const QByteArray& bytes) {
    QString out;
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == '\r')
            out += QStringLiteral("\\r");
        else if (b == '\n')
            out += QStringLiteral("\\n");
        else if (b == '\\')
            out += QStringLiteral("\\\\");
        else if (b < 32 || b >= 127)
            out += QStringLiteral("\\x%1").arg(b, 2, 16, QChar(u'0'));
        else
            out += QChar(b);
    }
    return out;
}

std::optional<QByteArray> expandTemplate(const QByteArray& templ, const Reading& r, QString* error) {
    const double factor = std::pow(10.0, r.decimals);
    // A reading that rounds to zero is shown unsigned, as indicators do.
    const bool negative = std::round(r.weight * factor) < 0;
    QByteArray out;
    for (qsizetype i = 0; i < templ.size(); ++i) {
        const char c = templ.at(i);
        if (c != '{') {
            out.append(c);
            continue;
        }
        if (i + 1 < templ.size() && templ.at(i + 1) == '{') {
            out.append('{');
            ++i;
            continue;
        }
        const qsizetype end = templ.indexOf('}', i);
        if (end < 0) {
            if (error) *error = QStringLiteral("unclosed \"{\" in the template");
            return std::nullopt;
        }
        const QByteArray spec = templ.mid(i + 1, end - i - 1);
        i = end;
        const qsizetype colon = spec.indexOf(':');
        const QByteArray name = colon < 0 ? spec : spec.left(colon);
        const QByteArray width = colon < 0 ? QByteArray() : spec.mid(colon + 1);
        bool widthOk = true;
        if (!width.isEmpty()) width.toInt(&widthOk);
        if (!widthOk) {
            if (error) *error = QStringLiteral("bad width in {%1}").arg(QString::fromLatin1(spec));
            return std::nullopt;
        }
        if (name == "weight") {
            out.append(pad(fixed(r.weight, r.decimals), width));
        } else if (name == "sign") {
            out.append(negative ? '-' : '+');
        } else if (name == "tare") {
            out.append(pad(fixed(r.tare, r.decimals), width));
        } else if (name == "gross") {
            out.append(pad(fixed(r.weight + r.tare, r.decimals), width));
        } else if (name == "implied") {
            out.append(pad(QByteArray::number(std::llround(std::fabs(r.weight) * factor)), width));
        } else if (name == "reversed") {
            QByteArray digits = pad(fixed(r.weight, r.decimals), width);
            std::reverse(digits.begin(), digits.end());
            out.append(digits);
        } else if (name == "unit") {
            out.append(pad(r.unit.toLatin1(), width));
        } else if (name == "status") {
            out.append(r.stable ? "ST" : "US");
        } else if (name == "motion") {
            out.append(r.stable ? 'S' : 'M');
        } else {
            if (error) *error = QStringLiteral("unknown placeholder {%1}").arg(QString::fromLatin1(name));
            return std::nullopt;
        }
    }
    if (error) error->clear();
    return out;
}

std::optional<QByteArray> makeFrame(const QString& format, const Reading& reading,
                                    const QByteArray& userTemplate, QString* error) {
    const FrameFormat* f = findFormat(format);
    if (!f) {
        if (error) *error = QStringLiteral("unknown format \"%1\"").arg(format);
        return std::nullopt;
    }
    if (format == u"template") return expandTemplate(userTemplate, reading, error);
    const std::optional<QByteArray> templ = unescape(QString::fromLatin1(f->templateText), error);
    if (!templ) return std::nullopt;
    return expandTemplate(*templ, reading, error);
}

}  // namespace veltrane::sim
