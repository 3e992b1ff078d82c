// Calls handed from another thread to the thread that made this object, run there in order on
// its event loop. The hand-over uses the standard library's mutex and an eventfd only to wake
// the event loop, as the report sink does: nothing passes through Qt's own queues, whose
// locking the thread sanitizer cannot see. Calls still queued when it goes are dropped.
#pragma once

#include <QSocketNotifier>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace mirk3 {

class MainThreadCalls {
 public:
  MainThreadCalls();
  ~MainThreadCalls();
  MainThreadCalls(const MainThreadCalls&) = delete;
  MainThreadCalls& operator=(const MainThreadCalls&) = delete;

  // From any thread; never waits for the call to run.
  void Post(std::function<void()> call);

 private:
  void RunQueued();

  int wake_ = -1;  // eventfd
  std::unique_ptr<QSocketNotifier> notifier_;
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
};

}  // namespace mirk3
