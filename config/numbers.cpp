#include "config/numbers.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

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

QString formatSignificant(double value, int digits) {
    if (!std::isfinite(value)) return QStringLiteral("0");
    if (value == 0.0) return QStringLiteral("0");
    std::array<char, 64> buf{};
    std::snprintf(buf.data(), buf.size(), "%.*e", digits - 1, value);
    std::string sci(buf.data());
    const auto ePos = sci.find('e');
    const int exponent = std::stoi(sci.substr(ePos + 1));
    auto stripZeros = [](std::string s) {
        if (s.find('.') != std::string::npos) {
            while (!s.empty() && s.back() == '0') s.pop_back();
            if (!s.empty() && s.back() == '.') s.pop_back();
        }
        return s;
    };
    if (exponent >= digits || exponent < -digits) {
        std::string mantissa = stripZeros(sci.substr(0, ePos));
        std::snprintf(buf.data(), buf.size(), "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        return QString::fromStdString(mantissa + buf.data());
    }
    const int decimals = std::max(0, digits - 1 - exponent);
    std::snprintf(buf.data(), buf.size(), "%.*f", decimals, value);
    std::string fixed = stripZeros(buf.data());
    if (fixed == "-0") fixed = "0";
    return QString::fromStdString(fixed);
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
