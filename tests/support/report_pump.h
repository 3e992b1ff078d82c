// A report sink on the standard library alone, for tests of the engine and the port table below
// the station's Qt core: workers' reports are queued and handled one at a time, in order, by
// whichever thread runs the pump; each sending worker waits until its report has been handled.
// A report sent from the pumping thread itself is handled at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/engine_report.h"

namespace mirk3 {

class ReportPump : public ReportSink {
 public:
  using Handler = std::function<void(int message, const EngineReport& report)>;

  // The thread that constructs the pump is its main thread.
  explicit ReportPump(Handler handler);

  void Send(int message, const EngineReport& report) override;

  // Handles queued reports until `done` returns true (checked after every report) or the
  // time-out passes. Returns `done()`. Only on the main thread.
  bool PumpUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::hours(24 * 365));

 private:
  struct Pending {
    int message;
    const EngineReport* report;
    bool handled = false;
  };

  Handler handler_;
  std::thread::id mainThread_;
  std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable handled_;
  std::deque<Pending*> queue_;
};

}  // namespace mirk3
