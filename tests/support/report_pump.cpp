#include "support/report_pump.h"

namespace mirk3 {

ReportPump::ReportPump(Handler handler)
    : handler_(std::move(handler)), mainThread_(std::this_thread::get_id()) {}

void ReportPump::Send(int message, const EngineReport& report) {
  if (std::this_thread::get_id() == mainThread_) {
    handler_(message, report);
    return;
  }
  Pending pending{message, &report};
  std::unique_lock lock(mutex_);
  queue_.push_back(&pending);
  queued_.notify_one();
  handled_.wait(lock, [&] { return pending.handled; });
}

bool ReportPump::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    std::unique_lock lock(mutex_);
    if (!queued_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) return done();
    Pending* pending = queue_.front();
    queue_.pop_front();
    lock.unlock();
    handler_(pending->message, *pending->report);
    lock.lock();
    pending->handled = true;
    handled_.notify_all();
  }
  return true;
}

}  // namespace mirk3
