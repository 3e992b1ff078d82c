// The station's report sink: a report sent on the main thread is handled at once, a worker's
// waits until the main thread's event loop has handled it, and reports keep their order.
#include "station/qt_report_sink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/station_harness.h"

namespace mirk3 {
namespace {

using namespace std::chrono_literals;

TEST(QtReportSink, ReportsFromTheMainThreadAreHandledAtOnceAndOthersWait) {
  test::EnsureQtApplication();
  std::vector<std::string> handled;
  QtReportSink pump([&](const PortEvent& event) {
    handled.push_back(std::get<Note>(event.event).text);
  });
  pump.Tell(PortEvent{1, Note{"direct"}});
  ASSERT_EQ(handled.size(), 1u);

  std::atomic<int> returned{0};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      pump.Tell(PortEvent{2, Note{std::to_string(i)}});
      returned.fetch_add(1);
    }
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(returned.load(), 0) << "a worker waits until its report has been handled";
  EXPECT_TRUE(test::RunEventsUntil([&] { return handled.size() == 51; }, 30s));
  worker.join();
  for (int i = 0; i < 50; ++i) EXPECT_EQ(handled[static_cast<size_t>(i) + 1], std::to_string(i));
}

}  // namespace
}  // namespace mirk3
