// What the benchmarks that run the whole station share: a view that shows nothing but the
// operator's messages, and timings without the station's pauses, so that only the work counts.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "station/station_view.h"
#include "base/timing.h"

class QuietView : public mirk3::StationView {
 public:
  void AppendLog(const std::string&) override {}
  void ShowMessage(const std::string& text, const std::string&) override {
    std::printf("%s\n", text.c_str());
  }
};

inline mirk3::Timing QuickTiming() {
  mirk3::Timing timing;
  timing.openAttempts = 5;
  timing.openSettle = std::chrono::milliseconds(0);
  timing.stepPause = std::chrono::milliseconds(0);
  timing.resetDelayUnit = std::chrono::milliseconds(0);
  return timing;
}
