// The engine's observer in the station on Qt: a worker's event is queued and handed to the
// station's main thread, where it is handled in order, and the worker waits until it has been
// handled. An event told on the main thread itself is handled at once.
// The hand-over uses the standard library's mutex and condition variable, and an eventfd only
// to wake the main thread's event loop: nothing the workers send passes through Qt's own
// queues, whose locking the thread sanitizer cannot see in a Qt not built for it.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/engine_events.h"

namespace mirk3 {

class QtReportSink : public QObject, public EngineObserver {
 public:
  using Handler = std::function<void(const PortEvent& event)>;

  // The thread that makes the sink is the main thread its events are handled on; its event
  // loop must run for a worker's event to be handled.
  explicit QtReportSink(Handler handler);
  ~QtReportSink() override;
  void Tell(const PortEvent& event) override;

 private:
  struct Pending {
    const PortEvent* event;
    bool handled = false;
  };
  void HandleQueued();

  Handler handler_;
  std::thread::id mainThread_;
  int wake_ = -1;  // eventfd
  std::unique_ptr<QSocketNotifier> notifier_;
  std::mutex mutex_;
  std::condition_variable handled_;
  std::deque<Pending*> queue_;
};

}  // namespace mirk3
