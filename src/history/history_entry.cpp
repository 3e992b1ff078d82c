#include "history/history_entry.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QUuid>
#include <filesystem>
#include <nlohmann/json.hpp>

namespace mirk3 {
namespace {

using nlohmann::json;

QVariant Text(const json& record, const char* key) {
  const auto it = record.find(key);
  if (it == record.end() || !it->is_string()) return QVariant(QMetaType(QMetaType::QString));
  return QString::fromStdString(it->get<std::string>());
}

QVariant Number(const json& record, const char* key) {
  const auto it = record.find(key);
  if (it == record.end() || !it->is_number()) return QVariant(QMetaType(QMetaType::LongLong));
  return QVariant::fromValue<qlonglong>(it->get<int64_t>());
}

// The station's own day of the result, so that a night shift's yield is counted on the day
// the station showed.
QString LocalDay(const QVariant& endedUtc) {
  const QDateTime ended = QDateTime::fromString(endedUtc.toString(), Qt::ISODateWithMs);
  return ended.isValid() ? ended.toLocalTime().date().toString(Qt::ISODate) : "unknown";
}

std::string PackageSetOf(const json& packages) {
  if (!packages.is_array() || packages.empty()) return "-";
  std::string key;
  for (const json& p : packages) {
    if (!key.empty()) key += ' ';
    key += p.value("slot", std::string("?")) + "=" +
           std::filesystem::path(p.value("path", std::string())).filename().string();
    const std::string sha = p.value("sha256", std::string());
    if (!sha.empty()) key += "#" + sha.substr(0, 12);
  }
  return key;
}

struct Columns {
  json record;
  QString packageSet;
  QVariant ended;
};

Status Exec(QSqlQuery& query, const std::string& what) {
  if (query.exec()) return {};
  return Fail(SqlError("cannot store " + what, query.lastError()));
}

Status StoreOne(SqlConnection& c, const HistoryEntry& e, const Columns& col) {
  const json& r = col.record;
  QSqlQuery run(c.Db());
  run.prepare(
      "INSERT INTO runs (id, station, run, started, package_set, packages) "
      "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (id) DO NOTHING");
  run.addBindValue(QString::fromStdString(e.runId));
  run.addBindValue(QString::fromStdString(e.station));
  run.addBindValue(Number(r, "run").isNull() ? 0 : Number(r, "run"));
  run.addBindValue(Text(r, "started"));
  run.addBindValue(col.packageSet);
  run.addBindValue(QString::fromStdString(r.value("packages", json::array()).dump()));
  if (Status stored = Exec(run, "the run of record " + e.id); !stored) return stored;

  QSqlQuery result(c.Db());
  result.prepare(
      "INSERT INTO results (id, run_id, station, run, slot, port, usb_path, verdict, code, "
      "message, elapsed_ms, bytes, total, started, ended, day, model, attempts, package_set, "
      "record) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
      "ON CONFLICT (id) DO NOTHING");
  result.addBindValue(QString::fromStdString(e.id));
  result.addBindValue(QString::fromStdString(e.runId));
  result.addBindValue(QString::fromStdString(e.station));
  for (const char* key : {"run", "slot", "port"}) result.addBindValue(Number(r, key));
  result.addBindValue(Text(r, "usb_path"));
  result.addBindValue(Text(r, "verdict").isNull() ? QString("FAIL") : Text(r, "verdict"));
  result.addBindValue(Number(r, "code"));
  result.addBindValue(Text(r, "message"));
  for (const char* key : {"elapsed_ms", "bytes", "total"}) result.addBindValue(Number(r, key));
  result.addBindValue(Text(r, "started"));
  result.addBindValue(col.ended);
  result.addBindValue(LocalDay(col.ended));
  result.addBindValue(Text(r, "model"));
  result.addBindValue(Number(r, "attempts").isNull() ? 1 : Number(r, "attempts"));
  result.addBindValue(col.packageSet);
  result.addBindValue(QString::fromStdString(e.record));
  return Exec(result, "record " + e.id);
}

}  // namespace

std::string NewRecordId() {
  return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
}

std::string PackageSetKey(const std::string& packagesJson) {
  return PackageSetOf(json::parse(packagesJson, nullptr, false));
}

Status StoreEntries(SqlConnection& connection, const std::vector<HistoryEntry>& entries) {
  std::vector<Columns> columns;
  for (const HistoryEntry& e : entries) {
    Columns col{json::parse(e.record, nullptr, false), {}, {}};
    if (!col.record.is_object()) return Fail("record " + e.id + " is not a JSON object");
    col.packageSet = QString::fromStdString(PackageSetOf(col.record.value("packages", json())));
    col.ended = Text(col.record, "ended");
    // A record without its end time still belongs somewhere in time: the moment it is stored.
    if (col.ended.isNull()) {
      col.ended = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    }
    columns.push_back(std::move(col));
  }
  if (Status begun = connection.Exec(connection.IsPostgres() ? "BEGIN" : "BEGIN IMMEDIATE");
      !begun) {
    return begun;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    if (Status stored = StoreOne(connection, entries[i], columns[i]); !stored) {
      connection.Rollback();
      return stored;
    }
  }
  Status committed = connection.Exec("COMMIT");
  if (!committed) connection.Rollback();
  return committed;
}

}  // namespace mirk3
