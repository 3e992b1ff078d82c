// The factory loop with its results stored in an SQLite history against the same loop
// without: 8 emulated phones, 10 runs of a small package each, the wall time from the first
// Start to the last run summary (and, with the history, until the writer has stored the last
// record). Writing happens on the history's own thread, so the loop should barely notice it.
// The ratio is the time with --results-db over the time without: smaller is better.
#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "bench_station.h"
#include "devsim/phone_farm.h"
#include "pack/tar_writer.h"
#include "station/headless.h"
#include "station/history_wiring.h"
#include "station/qt_report_sink.h"
#include "station/station.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int PHONES = 8, RUNS = 10, ROUNDS = 3;
constexpr double TARGET = 1.05;

// Seconds of the loop; negative when a phone failed or the history could not be attached.
double LoopSeconds(const std::string& dir, const std::string& package, bool withHistory) {
  mirk3::devsim::FarmConfig config;
  config.portDir = dir + "/ports";
  config.protocol = 3;
  config.discard = true;
  for (int p = 0; p < PHONES; ++p) config.ports.push_back(p);
  std::filesystem::create_directories(config.portDir);
  mirk3::devsim::PhoneFarm farm(config);
  if (!farm.Start()) return -1;
  QuietView view;
  mirk3::Station* station = nullptr;
  mirk3::QtReportSink pump(
      [&](const mirk3::PortEvent& e) { station->HandleEvent(e); });
  mirk3::EngineContext context;
  context.timing = QuickTiming();
  context.portDir = config.portDir;
  mirk3::Station owned(&view, &pump, context);
  station = &owned;
  if (!owned.PickPackage(mirk3::AP, package)) return -1;
  std::unique_ptr<mirk3::StationHistory> history;
  if (withHistory) {
    mirk3::HistoryOptions options;
    options.resultsDb = dir + "/history.sqlite";
    std::filesystem::remove(options.resultsDb);
    auto attached = mirk3::AttachHistory(owned, options);
    if (!attached || !attached.value()) return -1;
    history = std::move(attached).value();
  }
  const auto start = Clock::now();
  for (int run = 0; run < RUNS; ++run) {
    for (int p = 0; p < PHONES; ++p) {
      if (!farm.Plugged(p) && !farm.Plug(p)) return -1;
      owned.Ports().PlacePort(p);
    }
    if (!owned.Start()) return -1;
    mirk3::WaitForRunEnd(owned);
    if (owned.Succeeded() != PHONES) return -1;
  }
  if (history && !history->Flush(std::chrono::seconds(60))) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const std::string dir = std::filesystem::temp_directory_path() / "mirk3-bench-results-db";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string package = dir + "/AP_bench.tar";
  mirk3::pack::TarWriter tar;
  if (!tar.Open(package) || !tar.AddBytes("boot.img", std::string(1 << 20, 'b')) ||
      !tar.Finish()) {
    std::fprintf(stderr, "cannot make the package: %s\n", tar.Error().c_str());
    return 1;
  }
  std::vector<double> with, without;
  for (int round = 0; round < ROUNDS; ++round) {
    without.push_back(LoopSeconds(dir + "/a", package, false));
    with.push_back(LoopSeconds(dir + "/b", package, true));
    if (with.back() < 0 || without.back() < 0) {
      std::fprintf(stderr, "a loop failed\n");
      return 1;
    }
  }
  std::filesystem::remove_all(dir);
  std::printf("loop of %d phones x %d runs: %.3f s without the history, %.3f s with it\n", PHONES,
              RUNS, Median(without), Median(with));
  std::printf("BENCH results_db_overhead ratio=%.3f target=%.2f better=lower\n",
              Median(with) / Median(without), TARGET);
  return 0;
}
