// The station joined to its results history: every port's record stored in the results
// database (SQLite, or PostgreSQL for many stations) off the main thread, the slots' health
// followed with one log line when a slot crosses into flagged (and, with --quarantine, kept
// flagged until the operator clears it), and the counters written to a metrics file. The same
// for the window and the headless station; a database or metrics file that fails is said once
// in the log, never holds the station, and the results lines go on.
#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "history/history_writer.h"
#include "history/metrics_file.h"
#include "history/slot_health.h"
#include "station/main_thread_calls.h"
#include "station/port_run.h"
#include "station/station.h"

namespace CLI {
class App;
}  // namespace CLI

namespace mirk3 {

struct HistoryOptions {
  std::string resultsDb;    // a file or postgresql:// URL; empty: [Option] ResultsDb
  std::string bufferPath;   // the local buffer for a server; empty: DefaultBufferPath
  std::string metricsPath;  // empty: no metrics file
  bool quarantine = false;
  std::string stationName;  // empty: [Option] Title
  FlagRule rule;
  std::chrono::milliseconds retryEvery{5000};  // a server away is tried again this often
  std::chrono::milliseconds pollEvery{2000};   // the operator's slot clears are read this often
};

// --results-db FILE|URL, --results-buffer FILE, --metrics FILE, --quarantine and
// --station-name NAME, set in `options`.
void AddHistoryOptions(CLI::App& app, HistoryOptions& options);

// Where a station keeps the records for a server that is away: <LogDir>/results-buffer.sqlite
// when the settings have a log dir, else $XDG_STATE_HOME/mirk3/results-buffer.sqlite
// (~/.local/state/mirk3/ without it).
std::string DefaultBufferPath(const Settings& settings);

class StationHistory {
 public:
  ~StationHistory();
  SlotHealth& Health() { return health_; }
  const std::string& StationName() const { return name_; }
  // Called on the main thread whenever a slot becomes quarantined (true) or is cleared
  // (false): for the slot placement to follow.
  void OnQuarantineChange(std::function<void(int slot, bool quarantined)> callback) {
    quarantineChanged_ = std::move(callback);
  }
  // Waits until every record so far is stored or buffered; false after `timeout`.
  bool Flush(std::chrono::milliseconds timeout) { return writer_.Flush(timeout); }
  // Stores what is left and stops the writer. True when every record reached the database or
  // its buffer and the metrics file was always written: else the station's exit status must
  // say that an output failed.
  bool Finish();
  // An output failed so far (the database or its buffer refused a record, the metrics file
  // could not be written).
  bool Failed() const { return failed_ || writer_.Lost() > 0; }

 private:
  friend Result<std::unique_ptr<StationHistory>> AttachHistory(Station&, const HistoryOptions&);
  StationHistory(Station& station, const HistoryOptions& options, std::string name);
  void OnPortFinished(const PortRun& run);
  void OnRecentHistory(const std::vector<SlotResult>& results);
  void OnClears(const std::map<int, std::string>& clears);
  void Counted(const std::vector<SlotJudgement>& crossed);
  void WriteMetrics();
  void Say(const std::string& line);

  QObject guard_;          // the station's signals reach this object while it lives
  MainThreadCalls calls_;  // the writer's events, run on the main thread
  Station& station_;
  HistoryOptions options_;
  std::string name_;
  SlotHealth health_;
  std::unique_ptr<MetricsFile> metrics_;
  bool metricsTold_ = false;
  bool failed_ = false;
  std::vector<RunPackage> packages_;
  std::map<int, std::string> runIds_;
  std::function<void(int, bool)> quarantineChanged_;
  HistoryWriter writer_;  // last: stopped before the rest goes
};

// Connects the station's results to the history of `options`, with the settings' ResultsDb
// and Title where the options leave them empty. Fails, with why, when the database is not
// one (a bad URL), an SQLite file or a server's buffer cannot be opened, or the metrics file
// cannot be written; null when neither a database nor a metrics file is chosen. Keep it as
// long as the station.
Result<std::unique_ptr<StationHistory>> AttachHistory(Station& station,
                                                      const HistoryOptions& options);

}  // namespace mirk3
