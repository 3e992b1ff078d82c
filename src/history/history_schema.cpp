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

// The steps from `version` on, within the transaction MigrateHistorySchema holds.
Status MigrateFrom(SqlConnection& connection, int version) {
  if (version > HISTORY_SCHEMA_VERSION) {
    return Fail("the results database is at schema version " + std::to_string(version) +
                ", newer than this program's " + std::to_string(HISTORY_SCHEMA_VERSION));
  }
  const auto& steps = MigrationSteps();
  for (int next = version + 1; next <= HISTORY_SCHEMA_VERSION; ++next) {
    for (QString sql : steps[next - 1]) {
      sql.replace("%JSON%", connection.IsPostgres() ? "JSONB" : "TEXT");
      if (Status done = connection.Exec(sql); !done) return done;
    }
    Status noted =
        connection.Exec(QString("INSERT INTO schema_version (version) VALUES (%1)").arg(next));
    if (!noted) return noted;
  }
  return connection.Exec("COMMIT");
}

}  // namespace

Result<int> HistorySchemaVersion(SqlConnection& connection) {
  const Status made =
      connection.Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
  if (!made) return made.error();
  QSqlQuery query(connection.Db());
  if (!query.exec("SELECT MAX(version) FROM schema_version")) {
    return Fail(SqlError("cannot read the schema version", query.lastError()));
  }
  return query.next() && !query.value(0).isNull() ? query.value(0).toInt() : 0;
}

Status MigrateHistorySchema(SqlConnection& connection) {
  const bool postgres = connection.IsPostgres();
  if (Status begun = connection.Exec(postgres ? "BEGIN" : "BEGIN IMMEDIATE"); !begun) {
    return begun;
  }
  // Stations starting together: one migrates, the others wait and then find it done.
  Status migrated = postgres ? connection.Exec("SELECT pg_advisory_xact_lock(2501)") : Status();
  if (migrated) {
    const Result<int> version = HistorySchemaVersion(connection);
    migrated = version ? MigrateFrom(connection, *version) : Status(version.error());
  }
  if (!migrated) connection.Rollback();
  return migrated;
}

}  // namespace mirk3
