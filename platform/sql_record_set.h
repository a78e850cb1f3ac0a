#pragma once
// The record set over an SQLite table (see RecordSet in platform/database.h).

#include "platform/database.h"
#include "platform/sqlite_statement.h"

#include <memory>

namespace veltrane::sqlite {

// sql must be "select * from <table> [where ...] [order by ...]"; throws DbError otherwise.
std::unique_ptr<RecordSet> openRecordSet(std::shared_ptr<Connection> conn, const QString& sql,
                                         const QVariantList& binds);

}  // namespace veltrane::sqlite
