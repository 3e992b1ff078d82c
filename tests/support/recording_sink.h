// A report sink for tests that records every report, from any thread, in arrival order.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine_report.h"

namespace mirk3::test {

struct Recorded {
  int message;
  EngineReport report;
  std::chrono::steady_clock::time_point at;
};

class RecordingSink : public ReportSink {
 public:
  void Send(int message, const EngineReport& report) override {
    std::lock_guard lock(mutex_);
    reports_.push_back({message, report, std::chrono::steady_clock::now()});
  }
  std::vector<Recorded> All() const {
    std::lock_guard lock(mutex_);
    return reports_;
  }
  // Reports of one message, as "text|value".
  std::vector<std::string> Of(int message) const {
    std::vector<std::string> out;
    for (const auto& r : All()) {
      if (r.message == message) out.push_back(r.report.text + "|" + std::to_string(r.report.value));
    }
    return out;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    reports_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Recorded> reports_;
};

}  // namespace mirk3::test
