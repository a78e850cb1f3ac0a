#pragma once
// The numeric text conventions shared by the whole program.

#include <QByteArray>
#include <QString>

#include <optional>

namespace veltrane {

// The number at the start of a text: blanks, tabs and line feeds anywhere are skipped; an optional
// sign, digits, one "." and an optional exponent ("E" or "D", optional sign, digits) are read; reading
// stops at the first other character. Empty or non-numeric text gives 0. "." whatever the locale.
double leadingNumberValue(const QString& text);
double leadingNumberValue(const QByteArray& text);

// True when the whole text (blanks around it allowed) is one number: sign, digits, decimal point,
// exponent.
bool isNumeric(const QString& text);
// The value of a text that is numeric as a whole; nothing otherwise.
std::optional<double> numericValue(const QString& text);

// Shortest decimal form with at most 15 significant digits, no trailing zeros or ".", "0" for zero,
// exponent form ("1E+16") beyond the fixed-point range.
QString numberText(double value);
// The same with at most 7 significant digits (12345.67 -> "12345.67", 123456.78 -> "123456.8").
QString numberTextSingle(float value);

// Round half to even to the given number of decimals.
double roundHalfEven(double value, int decimals);

}  // namespace veltrane
