#include "support/station_harness.h"

#include <QEventLoop>
#include <QTimer>

#include "base/text.h"
#include "station/headless.h"
#include "station/qt_report_sink.h"

namespace mirk3::test {
namespace {

class CollectingView : public StationView {
 public:
  explicit CollectingView(RunResult* result) : result_(result) {}
  void AppendLog(const std::string& line) override { result_->log.push_back(line); }
  void PortRunChanged(const PortRun& run) override {
    result_->lastState[run.port] = run.verdict;
    result_->records[run.port] = run;
  }
  void ShowMessage(const std::string& text, const std::string&) override {
    result_->log.push_back("BOX " + text);
  }

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
  timing.autoStartDelay = std::chrono::milliseconds(20);
  timing.md5CheckedPause = std::chrono::milliseconds(0);
  timing.blPickPause = std::chrono::milliseconds(0);
  return timing;
}

void EnsureQtApplication() {
  static const std::unique_ptr<QCoreApplication> application = EnsureCoreApplication();
}

bool RunEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  EnsureQtApplication();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  QEventLoop loop;
  QTimer poll;  // a report handled may have made `done` true: looked at between events
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done() || std::chrono::steady_clock::now() >= deadline) loop.quit();
  });
  poll.start(10);
  if (!done()) loop.exec();
  return done();
}

RunResult RunStation(const std::vector<int>& ports, const DownloadOptions& options,
                     EngineContext context) {
  EnsureQtApplication();
  RunResult result;
  CollectingView view(&result);
  Station* station = nullptr;
  QtReportSink sink([&](const PortEvent& event) {
    if (const auto* failure = std::get_if<FailureShown>(&event.event)) {
      result.failures[event.port].push_back(failure->text + "|" + std::to_string(failure->code));
    }
    if (const auto* progress = std::get_if<Progress>(&event.event)) {
      result.progress[event.port].push_back(progress->what);
    }
    station->HandleEvent(event);
  });
  Station owned(&view, &sink, std::move(context));
  station = &owned;
  ChooseInStation(owned, options);
  for (int port : ports) owned.Ports().PlacePort(port);
  if (!owned.Start()) return result;
  WaitForRunEnd(owned);
  result.ended = !owned.Busy();
  result.succeeded = owned.Succeeded();
  result.failed = owned.Failed();
  return result;
}

}  // namespace mirk3::test
