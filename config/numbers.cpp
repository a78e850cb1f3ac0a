#include "config/numbers.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

namespace veltrane {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Collects the leading number with blanks dropped, normalised for from_chars ("D" exponent as "e").
double parseLeading(const char* p, const char* end) {
    std::string num;
    auto skip = [&] {
        while (p != end && isBlank(*p)) ++p;
    };
    skip();
    if (p != end && (*p == '+' || *p == '-')) {
        if (*p == '-') num += '-';
        ++p;
    }
    bool digits = false;
    bool point = false;
    for (;; ++p) {
        skip();
        if (p == end) break;
        if (isDigit(*p)) {
            num += *p;
            digits = true;
        } else if (*p == '.' && !point) {
            num += '.';
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return 0.0;
    skip();
    if (p != end && (*p == 'E' || *p == 'e' || *p == 'D' || *p == 'd')) {
        std::string exp = "e";
        ++p;
        skip();
        if (p != end && (*p == '+' || *p == '-')) {
            exp += *p;
            ++p;
        }
        bool expDigits = false;
        for (;; ++p) {
            skip();
            if (p == end || !isDigit(*p)) break;
            exp += *p;
            expDigits = true;
        }
        if (expDigits) num += exp;
    }
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(num.data(), num.data() + num.size(), value);
    (void)ptr;
    // A number too large for a double reads as 0 (the indicator sent garbage); a tiny one is 0 anyway.
    if (ec != std::errc()) return 0.0;
    return value;
}

// std::to_chars never looks at the C locale, which a Qt application sets from the environment: with
// printf a decimal-comma locale would turn 12.5 into "12,5" and a served weight into two CSV fields.
QString formatSignificant(double value, int digits) {
    if (!std::isfinite(value) || value == 0.0) return QStringLiteral("0");
    std::array<char, 64> buf{};
    char* const first = buf.data();
    char* const last = buf.data() + buf.size();
    const auto sci = std::to_chars(first, last, value, std::chars_format::scientific, digits - 1);
    const std::string_view sciText(first, static_cast<std::size_t>(sci.ptr - first));
    const auto ePos = sciText.find('e');
    // to_chars writes the exponent as e+NN or e-NN; from_chars takes no "+".
    const std::string_view expText = sciText.substr(ePos + 2);
    int exponent = 0;
    std::from_chars(expText.data(), expText.data() + expText.size(), exponent);
    if (sciText[ePos + 1] == '-') exponent = -exponent;
    auto stripZeros = [](std::string s) {
        if (s.find('.') != std::string::npos) {
            while (!s.empty() && s.back() == '0') s.pop_back();
            if (!s.empty() && s.back() == '.') s.pop_back();
        }
        return s;
    };
    if (exponent >= digits || exponent < -digits) {
        std::string out = stripZeros(std::string(sciText.substr(0, ePos)));
        const int magnitude = std::abs(exponent);
        out += exponent < 0 ? "E-" : "E+";
        if (magnitude < 10) out += '0';
        std::array<char, 8> expDigits{};
        const auto written = std::to_chars(expDigits.data(), expDigits.data() + expDigits.size(), magnitude);
        out.append(expDigits.data(), written.ptr);
        return QString::fromStdString(out);
    }
    const int decimals = std::max(0, digits - 1 - exponent);
    const auto fixed = std::to_chars(first, last, value, std::chars_format::fixed, decimals);
    std::string text = stripZeros(std::string(first, fixed.ptr));
    if (text == "-0") text = "0";
    return QString::fromStdString(text);
}

}  // namespace

double leadingNumberValue(const QByteArray& text) {
    return parseLeading(text.constData(), text.constData() + text.size());
}

double leadingNumberValue(const QString& text) {
    return leadingNumberValue(text.toLatin1());
}

std::optional<double> numericValue(const QString& text) {
    const std::string s = text.trimmed().toStdString();
    std::size_t i = 0;
    const std::size_t n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t mantissaDigits = 0;
    bool point = false;
    for (; i < n; ++i) {
        if (isDigit(s[i]))
            ++mantissaDigits;
        else if (s[i] == '.' && !point)
            point = true;
        else
            break;
    }
    if (mantissaDigits == 0) return std::nullopt;
    if (i < n && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t expDigits = 0;
        while (i < n && isDigit(s[i])) ++i, ++expDigits;
        if (expDigits == 0) return std::nullopt;
    }
    if (i != n) return std::nullopt;
    return parseLeading(s.data(), s.data() + s.size());
}

bool isNumeric(const QString& text) {
    return numericValue(text).has_value();
}

QString numberText(double value) {
    return formatSignificant(value, 15);
}

QString numberTextSingle(float value) {
    return formatSignificant(static_cast<double>(value), 7);
}

double roundHalfEven(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const double scaled = value * scale;
    if (!std::isfinite(scaled)) return value;
    // nearbyint follows the default rounding mode, round-to-nearest-even.
    return std::nearbyint(scaled) / scale;
}

}  // namespace veltrane
