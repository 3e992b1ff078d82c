// An engine observer for tests that records every event, from any thread, in arrival order,
// and shows them as the log face's report messages.
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

class RecordingSink : public EngineObserver {
 public:
  void Tell(const PortEvent& event) override {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    if (const auto shown = AsMessage(event)) {
      reports_.push_back({shown->message, shown->report, std::chrono::steady_clock::now()});
    }
  }
  // The events that have a report message, as that message.
  std::vector<Recorded> All() const {
    std::lock_guard lock(mutex_);
    return reports_;
  }
  std::vector<PortEvent> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  // The events of one type, in arrival order.
  template <typename E>
  std::vector<E> EventsOf() const {
    std::vector<E> out;
    for (const PortEvent& e : Events()) {
      if (const E* one = std::get_if<E>(&e.event)) out.push_back(*one);
    }
    return out;
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
    events_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Recorded> reports_;
  std::vector<PortEvent> events_;
};

}  // namespace mirk3::test
