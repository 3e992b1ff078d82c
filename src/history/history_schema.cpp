#include "history/history_schema.h"

#include <QSqlQuery>
#include <QStringList>
#include <vector>

namespace mirk3 {
namespace {

// The statements that bring the tables from version N-1 to N, for N = 1, 2, ...; "%JSON%"
// is JSONB in PostgreSQL (queryable there) and TEXT in SQLite. Never change a step that has
// shipped: add the next one.
const std::vector<QStringList>& MigrationSteps() {
  static const std::vector<QStringList> steps = {
      {
          "CREATE TABLE runs (id TEXT PRIMARY KEY, station TEXT NOT NULL, run INTEGER NOT NULL, "
          "started TEXT, package_set TEXT NOT NULL, packages %JSON% NOT NULL)",
          "CREATE INDEX runs_started ON runs (started)",
          "CREATE TABLE results (id TEXT PRIMARY KEY, run_id TEXT NOT NULL REFERENCES runs (id), "
          "station TEXT NOT NULL, run INTEGER, slot INTEGER, port INTEGER, usb_path TEXT, "
          "verdict TEXT NOT NULL, code BIGINT, message TEXT, elapsed_ms BIGINT, bytes BIGINT, "
          "total BIGINT, started TEXT, ended TEXT NOT NULL, day TEXT NOT NULL, model TEXT, "
          "attempts INTEGER, package_set TEXT NOT NULL, record %JSON% NOT NULL)",
          "CREATE INDEX results_ended ON results (ended)",
          "CREATE INDEX results_slot ON results (station, slot, ended)",
          "CREATE INDEX results_usb_path ON results (usb_path, ended)",
          "CREATE INDEX results_day ON results (day)",
          "CREATE TABLE slot_clears (station TEXT NOT NULL, slot INTEGER NOT NULL, "
          "cleared TEXT NOT NULL, PRIMARY KEY (station, slot))",
      },
  };
  return steps;
}

}  // namespace

int HistorySchemaVersion(SqlConnection& connection, std::string* error) {
  if (!connection.Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)",
                       error)) {
    return -1;
  }
  QSqlQuery query(connection.Db());
  if (!query.exec("SELECT MAX(version) FROM schema_version")) {
    if (error) *error = SqlError("cannot read the schema version", query.lastError());
    return -1;
  }
  return query.next() && !query.value(0).isNull() ? query.value(0).toInt() : 0;
}

bool MigrateHistorySchema(SqlConnection& connection, std::string* error) {
  const bool postgres = connection.IsPostgres();
  if (!connection.Exec(postgres ? "BEGIN" : "BEGIN IMMEDIATE", error)) return false;
  auto fail = [&connection] {
    connection.Exec("ROLLBACK", nullptr);
    return false;
  };
  // Stations starting together: one migrates, the others wait and then find it done.
  if (postgres && !connection.Exec("SELECT pg_advisory_xact_lock(2501)", error)) return fail();
  const int version = HistorySchemaVersion(connection, error);
  if (version < 0) return fail();
  if (version > HISTORY_SCHEMA_VERSION) {
    if (error)
      *error = "the results database is at schema version " + std::to_string(version) +
               ", newer than this program's " + std::to_string(HISTORY_SCHEMA_VERSION);
    return fail();
  }
  const auto& steps = MigrationSteps();
  for (int next = version + 1; next <= HISTORY_SCHEMA_VERSION; ++next) {
    for (QString sql : steps[next - 1]) {
      sql.replace("%JSON%", postgres ? "JSONB" : "TEXT");
      if (!connection.Exec(sql, error)) return fail();
    }
    if (!connection.Exec(QString("INSERT INTO schema_version (version) VALUES (%1)").arg(next),
                         error)) {
      return fail();
    }
  }
  return connection.Exec("COMMIT", error) || fail();
}

}  // namespace mirk3
