#include "history/history_report.h"

#include <QDateTime>
#include <QSqlQuery>
#include <algorithm>
#include <map>

namespace mirk3 {
namespace {

// The WHERE clause of the filter, with its values in order.
struct Where {
  QString sql = " WHERE 1 = 1";
  std::vector<QString> values;
};

Where WhereOf(const ReportFilter& f) {
  Where w;
  if (!f.since.empty()) {
    w.sql += " AND ended >= ?";
    w.values.push_back(QString::fromStdString(f.since));
  }
  if (!f.station.empty()) {
    w.sql += " AND station = ?";
    w.values.push_back(QString::fromStdString(f.station));
  }
  return w;
}

Status Run(QSqlQuery& query, const QString& sql, const Where& w) {
  query.prepare(sql);
  for (const QString& v : w.values) query.addBindValue(v);
  if (query.exec()) return {};
  return Fail(SqlError("cannot read the results database", query.lastError()));
}

Status Yields(SqlConnection& c, const Where& w, const QString& key, bool perStation,
              std::vector<YieldRow>* rows) {
  const QString station = perStation ? "station" : "''";
  QSqlQuery q(c.Db());
  const QString sql = "SELECT " + station + ", " + key +
                      ", COUNT(*), SUM(CASE WHEN verdict = 'PASS' THEN 1 ELSE 0 END) FROM results" +
                      w.sql + " GROUP BY " + (perStation ? "station, " : "") + key +
                      " ORDER BY " + (perStation ? "station, " : "") + key;
  if (Status read = Run(q, sql, w); !read) return read;
  while (q.next()) {
    rows->push_back({q.value(0).toString().toStdString(), q.value(1).toString().toStdString(),
                     q.value(2).toLongLong(), q.value(3).toLongLong()});
  }
  return {};
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t mid = v.size() / 2;
  return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

struct Row {
  std::string station, usbPath;
  int slot;
  bool passed;
  int64_t elapsedMs, bytes;
};

// The last `window` results of each slot since its clear, newest first per slot.
Status RecentRows(SqlConnection& c, const ReportFilter& f, std::vector<Row>* rows) {
  Where w = WhereOf(f);
  w.values.push_back(QString::number(f.rule.window));
  const QString sql =
      "SELECT station, slot, usb_path, verdict, elapsed_ms, bytes FROM ("
      "SELECT r.station, r.slot, r.usb_path, r.verdict, r.elapsed_ms, r.bytes, ROW_NUMBER() "
      "OVER (PARTITION BY r.station, r.slot ORDER BY r.ended DESC) AS n FROM results r "
      "LEFT JOIN slot_clears c ON c.station = r.station AND c.slot = r.slot" +
      QString(w.sql).replace("ended", "r.ended").replace("station =", "r.station =") +
      " AND (c.cleared IS NULL OR r.ended > c.cleared)) t WHERE n <= CAST(? AS INTEGER) "
      "ORDER BY station, slot, n DESC";
  QSqlQuery q(c.Db());
  if (Status read = Run(q, sql, w); !read) return read;
  while (q.next()) {
    const QString path = q.value(2).toString();
    rows->push_back({q.value(0).toString().toStdString(),
                     path.isEmpty() ? "-" : path.toStdString(), q.value(1).toInt(),
                     q.value(3).toString() == "PASS", q.value(4).toLongLong(),
                     q.value(5).toLongLong()});
  }
  return {};
}

void Summarize(const std::vector<Row>& rows, const FlagRule& rule, HistoryReport* report) {
  std::map<std::pair<std::string, std::pair<int, std::string>>, std::vector<const Row*>> byPath;
  std::map<std::string, std::map<int, std::vector<bool>>> outcomes;
  std::map<std::pair<std::string, int>, std::string> lastPath;
  for (const Row& r : rows) {
    byPath[{r.station, {r.slot, r.usbPath}}].push_back(&r);
    outcomes[r.station][r.slot].push_back(r.passed);
    lastPath[{r.station, r.slot}] = r.usbPath;  // rows run oldest to newest
  }
  for (const auto& [key, group] : byPath) {
    RecentRow out{key.first, key.second.first, key.second.second};
    std::vector<double> seconds, speeds;
    for (const Row* r : group) {
      ++out.results;
      if (!r->passed) continue;
      ++out.passed;
      seconds.push_back(static_cast<double>(r->elapsedMs) / 1000);
      if (r->elapsedMs > 0 && r->bytes > 0) {
        speeds.push_back(static_cast<double>(r->bytes) / 1e6 /
                         (static_cast<double>(r->elapsedMs) / 1000));
      }
    }
    out.medianSeconds = Median(seconds);
    out.medianMBPerSecond = Median(speeds);
    report->recent.push_back(out);
  }
  for (const auto& [station, slots] : outcomes) {
    for (const SlotJudgement& j : JudgeSlots(slots, rule)) {
      if (j.flagged) report->flagged.push_back({station, j, lastPath[{station, j.slot}]});
    }
  }
}

}  // namespace

Result<HistoryReport> ReadHistoryReport(SqlConnection& c, const ReportFilter& filter) {
  HistoryReport report;
  const Where w = WhereOf(filter);
  std::vector<Row> rows;
  // Each query only once the one before it was answered.
  Status read = Yields(c, w, "day", false, &report.days);
  if (read) read = Yields(c, w, "package_set", false, &report.packageSets);
  if (read) read = Yields(c, w, "slot", true, &report.slots);
  if (read) read = RecentRows(c, filter, &rows);
  if (!read) return read.error();
  Summarize(rows, filter.rule, &report);
  return report;
}

Status ClearSlot(SqlConnection& c, const std::string& station, int slot) {
  QSqlQuery q(c.Db());
  q.prepare(
      "INSERT INTO slot_clears (station, slot, cleared) VALUES (?, ?, ?) "
      "ON CONFLICT (station, slot) DO UPDATE SET cleared = excluded.cleared");
  q.addBindValue(QString::fromStdString(station));
  q.addBindValue(slot);
  q.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
  if (q.exec()) return {};
  return Fail(SqlError("cannot clear the slot", q.lastError()));
}

}  // namespace mirk3
