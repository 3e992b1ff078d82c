#include "cli/cli_results.h"

#include <CLI/CLI.hpp>
#include <QDateTime>
#include <QRegularExpression>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "base/text.h"
#include "cmdline/command_line.h"
#include "history/database_target.h"
#include "history/history_report.h"
#include "history/history_schema.h"
#include "station/headless.h"
#include "station/station_settings.h"

namespace mirk3 {
namespace {

constexpr char WHO[] = "mirk3-cli results";

struct ResultsArgs {
  std::string iniPath, resultsDb, since, station;
  bool json = false, csv = false;
  int clearSlot = -1;
  int recent = 50;
};

// "7d" (the last 7 days), a local date "2026-12-09" (from its midnight) or a local or UTC
// time; as UTC text, ordered as the records' times are.
std::optional<std::string> SinceText(const std::string& given) {
  const QString text = QString::fromStdString(given);
  QDateTime from;
  const auto days = QRegularExpression("^(\\d+)d$").match(text);
  if (days.hasMatch()) {
    from = QDateTime::currentDateTime().addDays(-days.captured(1).toLongLong());
  } else if (const QDate date = QDate::fromString(text, Qt::ISODate); date.isValid()) {
    from = date.startOfDay();
  } else {
    from = QDateTime::fromString(text, Qt::ISODateWithMs);
  }
  if (!from.isValid()) return std::nullopt;
  return from.toUTC().toString(Qt::ISODateWithMs).toStdString();
}

std::string Percent(int64_t part, int64_t whole) {
  return whole > 0 ? Format("%.1f%%", 100.0 * static_cast<double>(part) / static_cast<double>(whole)) : "-";
}

nlohmann::json YieldsJson(const std::vector<YieldRow>& rows, const char* key, bool perStation) {
  nlohmann::json out = nlohmann::json::array();
  for (const YieldRow& r : rows) {
    nlohmann::json row = {{key, r.key}, {"phones", r.phones}, {"passed", r.passed}};
    if (perStation) row["station"] = r.station;
    out.push_back(row);
  }
  return out;
}

nlohmann::json ReportJson(const HistoryReport& report) {
  nlohmann::json recent = nlohmann::json::array(), flagged = nlohmann::json::array();
  for (const RecentRow& r : report.recent) {
    recent.push_back({{"station", r.station}, {"slot", r.slot}, {"usb_path", r.usbPath},
                      {"phones", r.results}, {"passed", r.passed},
                      {"median_seconds", r.medianSeconds},
                      {"median_mb_per_s", r.medianMBPerSecond}});
  }
  for (const FlaggedSlot& f : report.flagged) {
    flagged.push_back({{"station", f.station}, {"slot", f.judgement.slot},
                       {"usb_path", f.usbPath}, {"phones", f.judgement.results},
                       {"failed", f.judgement.failures},
                       {"station_failure_rate", f.judgement.baseline},
                       {"p_value", f.judgement.pValue},
                       {"advice", "check the cable or hub"}});
  }
  return {{"days", YieldsJson(report.days, "day", false)},
          {"package_sets", YieldsJson(report.packageSets, "package_set", false)},
          {"slots", YieldsJson(report.slots, "slot", true)},
          {"recent", recent},
          {"flagged", flagged}};
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// One table per section, each with its header row, a blank line between them.
void PrintCsv(const HistoryReport& report, std::ostream& out) {
  const auto yields = [&out](const char* table, const std::vector<YieldRow>& rows) {
    out << "table,station,key,phones,passed\n";
    for (const YieldRow& r : rows) {
      out << table << ',' << CsvField(r.station) << ',' << CsvField(r.key) << ',' << r.phones
          << ',' << r.passed << '\n';
    }
    out << '\n';
  };
  yields("day", report.days);
  yields("package_set", report.packageSets);
  yields("slot", report.slots);
  out << "table,station,slot,usb_path,phones,passed,median_seconds,median_mb_per_s,flagged\n";
  for (const RecentRow& r : report.recent) {
    bool flagged = false;
    for (const FlaggedSlot& f : report.flagged) {
      flagged = flagged || (f.station == r.station && f.judgement.slot == r.slot);
    }
    out << "recent," << CsvField(r.station) << ',' << r.slot << ',' << CsvField(r.usbPath) << ','
        << r.results << ',' << r.passed << ',' << Format("%.3f", r.medianSeconds) << ','
        << Format("%.3f", r.medianMBPerSecond) << ',' << (flagged ? 1 : 0) << '\n';
  }
}

void PrintText(const HistoryReport& report, int recent, std::ostream& out) {
  const auto yields = [&out](const char* title, const char* column,
                             const std::vector<YieldRow>& rows, bool perStation) {
    out << title << "\n";
    const std::string station = perStation ? Format("%-20s ", "station") : "";
    out << "  " << station << Format("%-40s %8s %8s %7s\n", column, "phones", "passed", "yield");
    for (const YieldRow& r : rows) {
      out << "  " << (perStation ? Format("%-20s ", r.station.c_str()) : "")
          << Format("%-40s %8lld %8lld %7s\n", r.key.c_str(), (long long)r.phones,
                    (long long)r.passed, Percent(r.passed, r.phones).c_str());
    }
    out << "\n";
  };
  yields("Yield per day", "day", report.days, false);
  yields("Yield per package set", "package set", report.packageSets, false);
  yields("Yield per slot", "slot", report.slots, true);
  out << Format("Recent results per slot and USB path (the last %d of each slot)\n", recent);
  out << Format("  %-20s %4s %-14s %7s %9s %12s %12s\n", "station", "slot", "USB path", "phones",
                "pass rate", "median time", "median MB/s");
  for (const RecentRow& r : report.recent) {
    out << Format("  %-20s %4d %-14s %7d %9s %11.1fs %12.2f\n", r.station.c_str(), r.slot,
                  r.usbPath.c_str(), r.results, Percent(r.passed, r.results).c_str(),
                  r.medianSeconds, r.medianMBPerSecond);
  }
  out << "\n";
  if (report.flagged.empty()) {
    out << "No slot fails far more often than its station.\n";
    return;
  }
  for (const FlaggedSlot& f : report.flagged) {
    out << f.station << ": " << FlaggedText(f.judgement, f.usbPath == "-" ? "" : f.usbPath)
        << "\n";
  }
}

int Fail(std::ostream& err, const std::string& why) {
  err << WHO << ": " << why << "\n";
  return 1;
}

}  // namespace

int RunResultsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ResultsArgs a;
  FlagRule rule;
  const auto app = NewCommandLine(
      WHO,
      "Reads the results history: the yield per day, per package set and per slot; for each "
      "slot and USB path its recent pass rate, median time and median throughput (of the "
      "passed phones); and the slots that fail far more often than the rest of their station, "
      "flagged \"check the cable or hub\".\nThe rule: of a slot's last N results since it was "
      "last cleared (at least 10), so many failed that a slot failing at the rate of the "
      "station's other slots (counted as (failures + 1) / (results + 2)) would show as many "
      "or more with probability below 0.001: a one-sided binomial test. A running station "
      "with --quarantine keeps such a slot out of use until --clear-slot N.\nExit status: 0, "
      "1 when the database cannot be read or written, 2 for a usage error.");
  AddSettingsOption(*app, a.iniPath);
  app->add_option("--results-db", a.resultsDb, "the SQLite file or postgresql:// URL to read")
      ->type_name("FILE|URL")
      ->default_str("[Option] ResultsDb");
  app->add_option("--since", a.since, "only results since then: 7d, 2026-12-09 or a time")
      ->type_name("WHEN");
  app->add_option("--station", a.station,
                  "only this station's results (--clear-slot: the station whose slot; default "
                  "[Option] Title)")
      ->type_name("NAME");
  app->add_option("--recent", a.recent, "how many of each slot's last results are recent")
      ->transform(DecimalRange(1, 100000))
      ->type_name("N")
      ->default_str("50");
  app->add_flag("--json", a.json, "one JSON object, for scripts");
  app->add_flag("--csv", a.csv, "CSV tables, for a spreadsheet")->excludes("--json");
  app->add_option("--clear-slot", a.clearSlot,
                  "the slot's cable is mended: its health counts afresh from now")
      ->transform(DecimalRange(0, 255))
      ->type_name("N");
  if (const auto status = ParseCommandLine(*app, args, out, err)) return *status;

  const std::optional<Settings> settings = LoadStationSettings(a.iniPath, err, WHO);
  if (!settings) return 2;
  const std::string db = a.resultsDb.empty() ? settings->resultsDb : a.resultsDb;
  if (db.empty()) return ReportUsageMistake(*app, err, "no database: give --results-db FILE|URL");
  const auto target = ParseDatabaseTarget(db);
  if (!target) return ReportUsageMistake(*app, err, target.error().text);
  ReportFilter filter;
  filter.station = a.station;
  filter.rule.window = a.recent;
  if (!a.since.empty()) {
    const auto since = SinceText(a.since);
    if (!since) return ReportUsageMistake(*app, err, "--since " + a.since + " is not a time");
    filter.since = *since;
  }
  if (!target->IsPostgres() && a.clearSlot < 0 && !std::filesystem::exists(target->path)) {
    return Fail(err, "no results database at " + target->path);
  }
  const auto application = EnsureCoreApplication();
  SqlConnection connection;
  Status opened = connection.Open(*target);
  if (opened) opened = MigrateHistorySchema(connection);
  if (!opened) return Fail(err, opened.error().text);
  if (a.clearSlot >= 0) {
    const std::string station = a.station.empty() ? settings->title : a.station;
    const Status cleared = ClearSlot(connection, station, a.clearSlot);
    if (!cleared) return Fail(err, cleared.error().text);
    out << "Slot " << a.clearSlot << " of " << station << " cleared: its health counts afresh\n";
    return 0;
  }
  const auto report = ReadHistoryReport(connection, filter);
  if (!report) return Fail(err, report.error().text);
  if (a.json) {
    out << ReportJson(*report).dump(2) << "\n";
  } else if (a.csv) {
    PrintCsv(*report, out);
  } else {
    PrintText(*report, a.recent, out);
  }
  return 0;
}

}  // namespace mirk3
