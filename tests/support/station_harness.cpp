#include "support/station_harness.h"

#include "base/text.h"

namespace mirk3::test {
namespace {

class CollectingView : public StationView {
 public:
  explicit CollectingView(RunResult* result) : result_(result) {}
  void AppendLog(const std::string& line) override { result_->log.push_back(line); }
  void ShowSlot(int, int port, SlotState state, int, const std::string&) override {
    result_->lastState[port] = state;
  }
  void ShowMessage(const std::string& text) override { result_->log.push_back("BOX " + text); }

 private:
  RunResult* result_;
};

}  // namespace

std::vector<std::string> RunResult::PortLines(int port) const {
  std::vector<std::string> lines;
  const std::string tag = Format("/%03d> ", port);
  for (const auto& line : log) {
    const auto at = line.find(tag);
    if (line.rfind("<ID:", 0) == 0 && at != std::string::npos) {
      lines.push_back(line.substr(at + tag.size()));
    }
  }
  return lines;
}

bool RunResult::Contains(int port, const std::string& text) const {
  for (const auto& line : PortLines(port)) {
    if (line == text) return true;
  }
  return false;
}

Timing QuickTiming() {
  Timing timing;
  timing.openAttempts = 3;
  timing.openRetryPause = std::chrono::milliseconds(20);
  timing.openSettle = std::chrono::milliseconds(0);
  timing.firstByteTimeout = std::chrono::seconds(60);
  timing.stepPause = std::chrono::milliseconds(1);
  timing.workerStartDelay = std::chrono::milliseconds(5);
  timing.workerStagger = std::chrono::milliseconds(1);
  timing.watcherSettle = std::chrono::milliseconds(1);
  timing.rtnPauseBefore = std::chrono::milliseconds(20);
  timing.rtnPauseAfter = std::chrono::milliseconds(10);
  timing.resetDelayUnit = std::chrono::milliseconds(10);
  return timing;
}

RunResult RunStation(const std::vector<int>& ports, const DownloadOptions& options,
                     EngineContext context) {
  RunResult result;
  CollectingView view(&result);
  Station* station = nullptr;
  ReportPump pump([&](int message, const EngineReport& report) {
    if (message == WM_DL_FAIL) {
      result.failures[report.port].push_back(report.text + "|" + std::to_string(report.value));
    }
    if (message == WM_DL_PROGRESS) result.progress[report.port].push_back(report.text);
    station->HandleReport(message, report);
  });
  Station owned(&view, &pump, std::move(context));
  station = &owned;
  for (int port : ports) owned.Ports().PlacePort(port);
  if (!owned.Start(options)) return result;
  result.ended = pump.PumpUntil([&] { return !owned.Busy(); }, std::chrono::minutes(10));
  owned.Ports().ReleaseRun();
  result.succeeded = owned.Succeeded();
  result.failed = owned.Failed();
  return result;
}

}  // namespace mirk3::test
