#pragma once
// What a column accepts, from its declared type, and the value as it is stored there. The files come
// from an engine with typed columns (yes/no, single, currency...), so values are checked and converted
// here rather than left to SQLite's loose typing.

#include <QVariant>

#include <optional>

namespace veltrane::sqlite {

// What a column accepts, from its declared type.
enum class Kind { Any, Text, Integer, Boolean, Single, Double };

Kind kindOf(const char* declared);

// The value as stored in a column of the given kind, or nothing when it does not fit.
// Empty or blank text in a numeric or yes/no column is stored as Null (a cleared box).
std::optional<QVariant> fitValue(const QVariant& value, Kind kind);

// For messages: "whole number", "yes/no"...
const char* kindName(Kind kind);

}  // namespace veltrane::sqlite
