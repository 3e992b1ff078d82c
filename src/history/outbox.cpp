#include "history/outbox.h"

#include <QSqlQuery>
#include <filesystem>
#include <system_error>

namespace mirk3 {

Status Outbox::Open(const std::string& path) {
  path_ = path;
  const std::filesystem::path dir = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!dir.empty()) std::filesystem::create_directories(dir, ec);
  DatabaseTarget target;
  target.path = path;
  if (Status opened = connection_.Open(target); !opened) return opened;
  return connection_.Exec(
      "CREATE TABLE IF NOT EXISTS outbox (seq INTEGER PRIMARY KEY AUTOINCREMENT, "
      "id TEXT NOT NULL UNIQUE, run_id TEXT NOT NULL, station TEXT NOT NULL, "
      "record TEXT NOT NULL)");
}

Status Outbox::Append(const std::vector<HistoryEntry>& entries) {
  if (Status begun = connection_.Exec("BEGIN IMMEDIATE"); !begun) return begun;
  for (const HistoryEntry& e : entries) {
    QSqlQuery query(connection_.Db());
    query.prepare("INSERT OR IGNORE INTO outbox (id, run_id, station, record) VALUES (?, ?, ?, ?)");
    for (const std::string* text : {&e.id, &e.runId, &e.station, &e.record}) {
      query.addBindValue(QString::fromStdString(*text));
    }
    if (!query.exec()) {
      Status failed =
          Fail(SqlError("cannot keep a record in the buffer " + path_, query.lastError()));
      connection_.Rollback();
      return failed;
    }
  }
  return connection_.Exec("COMMIT");
}

Result<std::vector<Outbox::Held>> Outbox::Oldest(int limit) {
  QSqlQuery query(connection_.Db());
  query.prepare("SELECT seq, id, run_id, station, record FROM outbox ORDER BY seq LIMIT ?");
  query.addBindValue(limit);
  if (!query.exec()) return Fail(SqlError("cannot read the buffer " + path_, query.lastError()));
  std::vector<Held> held;
  while (query.next()) {
    held.push_back({query.value(0).toLongLong(),
                    {query.value(1).toString().toStdString(),
                     query.value(2).toString().toStdString(),
                     query.value(3).toString().toStdString(),
                     query.value(4).toString().toStdString()}});
  }
  return held;
}

Status Outbox::RemoveThrough(int64_t seq) {
  QSqlQuery query(connection_.Db());
  query.prepare("DELETE FROM outbox WHERE seq <= ?");
  query.addBindValue(QVariant::fromValue<qlonglong>(seq));
  if (query.exec()) return {};
  return Fail(SqlError("cannot empty the buffer " + path_, query.lastError()));
}

int64_t Outbox::Count() {
  QSqlQuery query(connection_.Db());
  if (!query.exec("SELECT COUNT(*) FROM outbox") || !query.next()) return -1;
  return query.value(0).toLongLong();
}

}  // namespace mirk3
