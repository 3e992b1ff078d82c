// Workers and the watcher of a run: staggered resumes, independent reports, exit codes kept
// for the station, and exactly one end-of-run report after the slowest worker.
#include "engine/worker.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "base/le.h"
#include "support/pty_peer.h"
#include "station/qt_report_sink.h"
#include "support/recording_sink.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::PtyPeer;
using test::TempDir;

struct Seen {
  int message;
  int port;
  std::string text;
  Clock::time_point at;
};

// Plays a boot loader of protocol 3 through a device-info session: greeting, requests, close.
void ServeShortSession(PtyPeer& peer, const char* answer = "TASH") {
  if (peer.Read(4).size() != 4) return;
  peer.Write(answer, 4);
  if (std::string(answer) != "TASH") return;
  for (;;) {
    const auto request = peer.Read(REQUEST_PACKET_SIZE);
    if (request.size() != REQUEST_PACKET_SIZE) return;
    const int32_t type = GetLe32s(&request[0]);
    const int32_t sub = GetLe32s(&request[4]);
    peer.Respond(type, type == RQT_INIT && sub == RQT_INIT_BEGIN ? (3 << 16) : 0);
    if (type == RQT_CLOSE) return;
  }
}

EngineContext Context(const std::string& portDir, int attempts) {
  EngineContext context;
  context.portDir = portDir;
  context.timing.openAttempts = attempts;
  context.timing.openRetryPause = 50ms;
  context.timing.openSettle = 0ms;
  context.timing.stepPause = 1ms;
  context.timing.resetDelayUnit = 1ms;
  context.timing.firstByteTimeout = 20s;
  return context;
}

class WorkerRunTest : public ::testing::Test {
 protected:
  std::unique_ptr<CDownloadEngine> Engine(int port, int attempts) {
    auto engine = std::make_unique<CDownloadEngine>(&pump, port, Context(dir.Path(), attempts));
    DownloadOptions options;
    options.deviceInfo = 1;
    engine->CopyOptions(options);
    return engine;
  }

  // Pumps reports on this (the main) thread until the end-of-run report.
  void PumpToEnd() {
    ASSERT_TRUE(test::RunEventsUntil([&] { return ended; }, 120s)) << "the run never ended";
  }

  TempDir dir;
  std::vector<Seen> seen;
  bool ended = false;
  bool application = (test::EnsureQtApplication(), true);  // before the sink
  QtReportSink pump{[this](const PortEvent& event) {
    EXPECT_FALSE(ended) << "an event after the end of the run";
    if (std::holds_alternative<mirk3::Failed>(event.event)) ++verdicts[event.port];
    const auto shown = AsMessage(event);
    if (!shown) return;
    seen.push_back({shown->message, event.port, shown->report.text, Clock::now()});
    if (std::holds_alternative<RunEnded>(event.event)) ended = true;
  }};
  std::map<int, int> verdicts;  // Failed events per port
};

TEST(WorkerRun, WorkersResumeInOrderReportIndependentlyAndEndOnce) {
  // The sink records each report when it is sent, so the resume times can be seen.
  TempDir dir;
  test::RecordingSink sink;
  PtyPeer device(dir.Path(), 1);
  std::thread phone([&] { ServeShortSession(device); });
  auto engine = [&](int port, int attempts) {
    auto e = std::make_unique<CDownloadEngine>(&sink, port, Context(dir.Path(), attempts));
    DownloadOptions options;
    options.deviceInfo = 1;
    e->CopyOptions(options);
    return e;
  };
  std::vector<std::unique_ptr<CDownloadEngine>> engines;
  engines.push_back(engine(0, 1));  // absent port, fails at once
  engines.push_back(engine(1, 1));  // a phone that passes
  engines.push_back(engine(2, 8));  // absent port, the slowest: eight attempts
  Timing timing;
  // A stagger far above any scheduling delay, so that a loaded machine still shows it.
  timing.workerStagger = 200ms;
  timing.watcherSettle = 10ms;
  WorkerRun run(std::move(engines), &sink, timing);
  const auto deadline = Clock::now() + 120s;
  auto ended = [&] {
    const auto all = sink.All();
    return std::any_of(all.begin(), all.end(),
                       [](const test::Recorded& r) { return r.report.port == NO_PORT; });
  };
  while (!ended() && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
  phone.join();
  std::this_thread::sleep_for(50ms);  // nothing may follow the end-of-run report
  const auto seen = sink.All();

  std::map<int, Clock::time_point> started;
  for (const auto& s : seen) {
    if (s.report.text == "SetupConnection..") started[s.report.port] = s.at;
  }
  ASSERT_EQ(started.size(), 3u);
  EXPECT_GE(started[1] - started[0], 100ms) << "resumed in order, one stagger apart";
  EXPECT_GE(started[2] - started[1], 100ms);

  const auto endReports = std::count_if(
      seen.begin(), seen.end(), [](const test::Recorded& r) { return r.report.port == NO_PORT; });
  EXPECT_EQ(endReports, 1);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().report.port, NO_PORT) << "the end of the run comes after every worker";
  EXPECT_EQ(seen.back().message, WM_DL_COMPLETE);
  EXPECT_EQ(seen.back().report.text, "");

  ASSERT_EQ(run.Workers().size(), 3u);
  EXPECT_EQ(run.Workers()[0]->ExitCode(), WORKER_FAILED);
  EXPECT_EQ(run.Workers()[1]->ExitCode(), WORKER_PASSED);
  EXPECT_EQ(run.Workers()[2]->ExitCode(), WORKER_FAILED);
  EXPECT_EQ(run.Passed(), 1);
  EXPECT_EQ(run.Failed(), 2);
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const test::Recorded& r) {
    return r.report.port == 1 && r.message == WM_DL_COMPLETE && r.report.text == "Completed..";
  }));
}

TEST_F(WorkerRunTest, EightyWorkersEndWithOneEndOfRunReport) {
  std::vector<std::unique_ptr<CDownloadEngine>> engines;
  for (int port = 0; port < 80; ++port) engines.push_back(Engine(100 + port, 1));
  Timing timing;
  timing.workerStagger = 1ms;
  WorkerRun run(std::move(engines), &pump, timing);
  PumpToEnd();
  EXPECT_EQ(
      std::count_if(seen.begin(), seen.end(), [](const Seen& s) { return s.port == NO_PORT; }), 1);
  EXPECT_EQ(run.Failed(), 80);
  EXPECT_EQ(run.Passed(), 0);
}

TEST_F(WorkerRunTest, AnEmptyRunEndsAtOnce) {
  WorkerRun run({}, &pump, Timing{});
  PumpToEnd();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, WM_DL_COMPLETE);
}

TEST_F(WorkerRunTest, AFailedWorkerReleasesItsPortAndRunsNoLaterStep) {
  PtyPeer device(dir.Path(), 4);
  std::thread phone([&] { ServeShortSession(device, "TASX"); });
  std::vector<std::unique_ptr<CDownloadEngine>> engines;
  engines.push_back(Engine(4, 1));
  WorkerRun run(std::move(engines), &pump, Timing{});
  PumpToEnd();
  phone.join();
  EXPECT_EQ(run.Failed(), 1);
  int failReports = 0;
  for (const auto& s : seen) {
    failReports += s.message == WM_DL_FAIL;
    EXPECT_NE(s.text, "Initialzation..");
  }
  EXPECT_EQ(failReports, 1) << "a wrong greeting is reported once";
  EXPECT_EQ(verdicts, (std::map<int, int>{{4, 1}})) << "one verdict for the failed port";
  CWinRs232cSync line(Context(dir.Path(), 1).timing, dir.Path());
  EXPECT_TRUE(line.OpenPort(4)) << "deleting the engine closed the port";
}

}  // namespace
}  // namespace mirk3
