// A run on its own, without the station's core: one worker per place in slot order, exit codes
// counted once the watcher has reported, and its threads released only when nobody waits.
#include "station/run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "devsim/phone_farm.h"
#include "station/qt_report_sink.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

using namespace std::chrono_literals;

// Phones on ports 1 and 2, none on port 8: three workers, two passes and one failure.
TEST(RunOwner, OneWorkerPerPlaceCountedOnceTheWatcherHasReported) {
  test::TempDir dir;
  devsim::FarmConfig config;
  config.portDir = dir / "ports";
  config.ports = {1, 2};
  config.protocol = 3;
  std::filesystem::create_directories(config.portDir);
  devsim::PhoneFarm farm(config);
  std::string error;
  ASSERT_TRUE(farm.Start(&error)) << error;

  std::set<int> reporting;
  bool ended = false;
  test::EnsureQtApplication();
  QtReportSink pump([&](const PortEvent& event) {
    if (std::holds_alternative<RunEnded>(event.event)) ended = true;
    if (event.port != NO_PORT) reporting.insert(event.port);
  });
  mirk3::Run run(4, {{0, 1, ""}, {1, 8, ""}, {2, 2, "1-1.2"}});
  EXPECT_EQ(run.RecordOf(2)->usbPath, "1-1.2");
  EXPECT_EQ(run.RecordOf(8)->run, 4);
  DownloadOptions options;
  options.deviceInfo = 1;
  EngineContext context;
  context.timing = test::QuickTiming();
  context.portDir = config.portDir;
  EXPECT_EQ(run.Start(options, context, &pump), 3);
  EXPECT_EQ(run.RemainingPorts(), 3);
  ASSERT_TRUE(test::RunEventsUntil([&] { return ended; }, 120s)) << "the run never ended";

  int succeeded = -1, failed = -1;
  run.CountResults(&succeeded, &failed);
  EXPECT_EQ(succeeded, 2);
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(reporting, (std::set<int>{1, 2, 8}));
  // The end-of-run report has been handled: the watcher is let go and nobody waits for it.
  ASSERT_TRUE(test::RunEventsUntil([&] { return run.Releasable(); }, 60s));
  run.Release();
  EXPECT_EQ(run.Records().size(), 3u) << "the records outlive the threads";
}

}  // namespace
}  // namespace mirk3
