#pragma once
// The tables of the three database files and the configuration row a new installation starts with.
// The creation tool and the tests build the files from here; the program itself only opens them.

#include "platform/database.h"

#include <QString>
#include <QVariant>

#include <vector>

namespace veltrane {

// One column of table config. Yes/no columns are BOOLEAN holding -1/0, texts TEXT, whole numbers of
// any width INTEGER (the loader checks the range of its program type), singles REAL, doubles DOUBLE.
struct ConfigColumn {
    const char* name;
    const char* type;
    QVariant initial;  // the value of the default row; an invalid QVariant is Null
};

// Every column of table config, in the order the loader reads them.
const std::vector<ConfigColumn>& configColumns();

inline constexpr auto kVersionMarker = "12.x";

// Each creates a new file (never replaces one) and throws DbError on any failure.
// scale.mdb: table config with its default row (output folder = outputFolder, which must end in "/"),
// the weight log and the port-to-device table.
void createSettingsDatabase(const QString& path, const QString& outputFolder);
// config.mdb: table config with the version marker in column dummy.
void createVersionDatabase(const QString& path);
// veltrane.mdb: the export database template, unencrypted so that any program can read it.
void createExportTemplate(const QString& path);

// The statements that make an empty weightlog table with its date index (shared by scale.mdb and
// the export template).
QString weightLogTableSql();

}  // namespace veltrane
