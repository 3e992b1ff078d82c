// The results history's tables, the same in SQLite and PostgreSQL:
//   runs        one row per run of a station (id made at the station, its packages)
//   results     one row per port and run: typed columns for the queries and the whole record
//               as JSON beside them, so fields added to the record later are kept
//   slot_clears when the operator last cleared a slot of a station (health counts after it)
//   schema_version  the version the tables are at
// A database made by an older version is migrated step by step, in one transaction; one made
// by a newer version is refused rather than written wrongly.
#pragma once

#include <string>

#include "base/result.h"
#include "history/sql_connection.h"

namespace mirk3 {

inline constexpr int HISTORY_SCHEMA_VERSION = 1;

// Brings the tables of an open connection to HISTORY_SCHEMA_VERSION. Several stations may
// start at once against one server: PostgreSQL takes a lock for the migration.
Status MigrateHistorySchema(SqlConnection& connection);

// The version the database is at (0 for a new one), or why it cannot be read.
Result<int> HistorySchemaVersion(SqlConnection& connection);

}  // namespace mirk3
