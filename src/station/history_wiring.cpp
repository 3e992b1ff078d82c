#include "station/history_wiring.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "station/results_file.h"
#include "station/station_wiring.h"
#include "base/text.h"

namespace mirk3 {

void AddHistoryOptions(CLI::App& app, HistoryOptions& o) {
  app.add_option("--results-db", o.resultsDb,
                 "also store every record in this SQLite file or postgresql://user@host/dbname "
                 "(?host=/socket/dir for a Unix socket)")
      ->type_name("FILE|URL")
      ->default_str("[Option] ResultsDb");
  app.add_option("--results-buffer", o.bufferPath,
                 "where records wait while a PostgreSQL server is away")
      ->type_name("FILE")
      ->default_str("<LogDir>/results-buffer.sqlite, else ~/.local/state/mirk3/");
  app.add_option("--metrics", o.metricsPath,
                 "the counters in the Prometheus text format, replaced after every result")
      ->type_name("FILE");
  app.add_flag("--quarantine", o.quarantine,
               "keep a slot flagged \"check the cable or hub\" out of use until "
               "'mirk3-cli results --clear-slot N'");
  app.add_option("--station-name", o.stationName, "the station's name in every stored record")
      ->type_name("NAME")
      ->default_str("[Option] Title");
}

std::string DefaultBufferPath(const Settings& settings) {
  const std::string file = "results-buffer.sqlite";
  if (!settings.logDir.empty()) return settings.logDir + "/" + file;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) {
    return std::string(state) + "/mirk3/" + file;
  }
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/state/mirk3/" + file;
}

StationHistory::StationHistory(Station& station, const HistoryOptions& options, std::string name)
    : station_(station),
      options_(options),
      name_(std::move(name)),
      health_(options.rule, options.quarantine) {}

StationHistory::~StationHistory() { writer_.Stop(); }

bool StationHistory::Finish() {
  writer_.Stop();
  const int64_t lost = writer_.Lost();
  if (lost > 0) {
    Say("the results database lost " + std::to_string(lost) +
        " records (the results lines have them)");
  }
  return !Failed();
}

void StationHistory::Say(const std::string& line) { station_.LogLine(line); }

void StationHistory::OnPortFinished(const PortRun& run) {
  const std::string record = ResultRecord(run, packages_);
  std::string& runId = runIds_[run.run];
  if (runId.empty()) runId = NewRecordId();
  if (!options_.resultsDb.empty()) writer_.Submit({NewRecordId(), runId, name_, record});
  const auto parsed = nlohmann::json::parse(record, nullptr, false);
  const auto ended = parsed.is_object() ? parsed.find("ended") : parsed.end();
  Counted(health_.Add({run.slot, run.usbPath, run.verdict == Verdict::Passed,
                       ended != parsed.end() && ended->is_string() ? ended->get<std::string>()
                                                                   : ""}));
  if (metrics_) {
    metrics_->Add(record);
    WriteMetrics();
  }
}

void StationHistory::Counted(const std::vector<SlotJudgement>& crossed) {
  for (const SlotJudgement& j : crossed) {
    std::string line = FlaggedText(j, health_.UsbPathOf(j.slot));
    if (health_.Quarantining()) {
      line += Format(" (kept out of use until mirk3-cli results --clear-slot %d)", j.slot);
    }
    Say(line);
    if (health_.Quarantining() && quarantineChanged_) quarantineChanged_(j.slot, true);
  }
}

void StationHistory::OnRecentHistory(const std::vector<SlotResult>& results) {
  std::vector<SlotJudgement> crossed;
  for (const SlotResult& r : results) {
    for (const SlotJudgement& j : health_.Add(r)) crossed.push_back(j);
  }
  Counted(crossed);
  if (metrics_ && !crossed.empty()) WriteMetrics();
}

void StationHistory::OnClears(const std::map<int, std::string>& clears) {
  for (const int slot : health_.SetClears(clears)) {
    Say(Format("Slot %d cleared: its health counts afresh", slot));
    if (health_.Quarantining() && quarantineChanged_) quarantineChanged_(slot, false);
  }
  if (metrics_) WriteMetrics();
}

void StationHistory::WriteMetrics() {
  metrics_->SetSlotsFlagged(static_cast<int>(health_.Flagged().size()));
  const Status written = metrics_->Write();
  if (written || metricsTold_) return;
  metricsTold_ = true;
  failed_ = true;
  Say(written.error().text);
}

Result<std::unique_ptr<StationHistory>> AttachHistory(Station& station,
                                                      const HistoryOptions& given) {
  const Settings& settings = station.CurrentSettings();
  HistoryOptions options = given;
  if (options.resultsDb.empty()) options.resultsDb = settings.resultsDb;
  if (options.resultsDb.empty() && options.metricsPath.empty()) {
    return std::unique_ptr<StationHistory>();  // nothing chosen
  }
  const std::string name = options.stationName.empty() ? settings.title : options.stationName;
  std::unique_ptr<StationHistory> history(new StationHistory(station, options, name));
  StationHistory* h = history.get();
  if (!options.metricsPath.empty()) {
    h->metrics_ = std::make_unique<MetricsFile>(options.metricsPath, name);
    if (const Status written = h->metrics_->Write(); !written) return written.error();
  }
  if (!options.resultsDb.empty()) {
    const Result<DatabaseTarget> target = ParseDatabaseTarget(options.resultsDb);
    if (!target) return target.error();
    // The writer's events come on its thread; the station is told on its own.
    auto onMain = [h](std::function<void()> call) { h->calls_.Post(std::move(call)); };
    WriterEvents events;
    events.failed = [h, onMain, postgres = target->IsPostgres()](const std::string& why) {
      onMain([h, why, postgres] {
        if (!postgres) h->failed_ = true;  // a server's records wait in the buffer
        h->Say(why);
      });
    };
    events.recovered = [h, onMain](const std::string& how) { onMain([h, how] { h->Say(how); }); };
    events.clears = [h, onMain](const std::map<int, std::string>& clears) {
      onMain([h, clears] { h->OnClears(clears); });
    };
    events.history = [h, onMain](const std::vector<SlotResult>& results) {
      onMain([h, results] { h->OnRecentHistory(results); });
    };
    WriterOptions writer{*target,
                         options.bufferPath.empty() ? DefaultBufferPath(settings)
                                                    : options.bufferPath,
                         name, options.retryEvery, options.pollEvery};
    const Status started = h->writer_.Start(std::move(writer), std::move(events));
    if (!started) return started.error();
  }
  QObject::connect(&station, &Station::runStarted, &h->guard_,
                   [h, &station](int, int) { h->packages_ = RunPackages(station); });
  QObject::connect(&station, &Station::portFinished, &h->guard_,
                   [h](const PortRun& run) { h->OnPortFinished(run); });
  return history;
}

}  // namespace mirk3
