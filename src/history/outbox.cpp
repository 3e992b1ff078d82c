#include "history/outbox.h"

#include <QSqlQuery>
#include <filesystem>
#include <system_error>

namespace mirk3 {

bool Outbox::Open(const std::string& path, std::string* error) {
  path_ = path;
  const std::filesystem::path dir = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!dir.empty()) std::filesystem::create_directories(dir, ec);
  DatabaseTarget target;
  target.path = path;
  if (!connection_.Open(target, error)) return false;
  return connection_.Exec(
      "CREATE TABLE IF NOT EXISTS outbox (seq INTEGER PRIMARY KEY AUTOINCREMENT, "
      "id TEXT NOT NULL UNIQUE, run_id TEXT NOT NULL, station TEXT NOT NULL, "
      "record TEXT NOT NULL)",
      error);
}

bool Outbox::Append(const std::vector<HistoryEntry>& entries, std::string* error) {
  if (!connection_.Exec("BEGIN IMMEDIATE", error)) return false;
  for (const HistoryEntry& e : entries) {
    QSqlQuery query(connection_.Db());
    query.prepare("INSERT OR IGNORE INTO outbox (id, run_id, station, record) VALUES (?, ?, ?, ?)");
    for (const std::string* text : {&e.id, &e.runId, &e.station, &e.record}) {
      query.addBindValue(QString::fromStdString(*text));
    }
    if (!query.exec()) {
      if (error) *error = SqlError("cannot keep a record in the buffer " + path_, query.lastError());
      connection_.Exec("ROLLBACK", nullptr);
      return false;
    }
  }
  return connection_.Exec("COMMIT", error);
}

bool Outbox::Oldest(int limit, std::vector<Held>* held, std::string* error) {
  held->clear();
  QSqlQuery query(connection_.Db());
  query.prepare("SELECT seq, id, run_id, station, record FROM outbox ORDER BY seq LIMIT ?");
  query.addBindValue(limit);
  if (!query.exec()) {
    if (error) *error = SqlError("cannot read the buffer " + path_, query.lastError());
    return false;
  }
  while (query.next()) {
    held->push_back({query.value(0).toLongLong(),
                     {query.value(1).toString().toStdString(),
                      query.value(2).toString().toStdString(),
                      query.value(3).toString().toStdString(),
                      query.value(4).toString().toStdString()}});
  }
  return true;
}

bool Outbox::RemoveThrough(int64_t seq, std::string* error) {
  QSqlQuery query(connection_.Db());
  query.prepare("DELETE FROM outbox WHERE seq <= ?");
  query.addBindValue(QVariant::fromValue<qlonglong>(seq));
  if (query.exec()) return true;
  if (error) *error = SqlError("cannot empty the buffer " + path_, query.lastError());
  return false;
}

int64_t Outbox::Count() {
  QSqlQuery query(connection_.Db());
  if (!query.exec("SELECT COUNT(*) FROM outbox") || !query.next()) return -1;
  return query.value(0).toLongLong();
}

}  // namespace mirk3
