#include "station/qt_report_sink.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace mirk3 {

QtReportSink::QtReportSink(Handler handler)
    : handler_(std::move(handler)), mainThread_(std::this_thread::get_id()) {
  // Without an application there is no event loop to wake, and every worker would wait for
  // ever: better to stop here, loudly.
  if (!QCoreApplication::instance()) {
    std::fprintf(stderr, "mirk3: the report sink needs a Qt application made before it\n");
    std::abort();
  }
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) std::abort();  // no worker could ever be heard
  notifier_ = std::make_unique<QSocketNotifier>(wake_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { HandleQueued(); });
}

QtReportSink::~QtReportSink() {
  notifier_.reset();
  ::close(wake_);
}

void QtReportSink::Tell(const PortEvent& event) {
  if (std::this_thread::get_id() == mainThread_) {
    handler_(event);
    return;
  }
  Pending pending{&event};
  std::unique_lock lock(mutex_);
  queue_.push_back(&pending);
  const uint64_t one = 1;
  if (::write(wake_, &one, sizeof one) < 0) {
    // The counter is full of wake-ups the main thread has not read yet: it is awake anyway.
  }
  handled_.wait(lock, [&pending] { return pending.handled; });
}

void QtReportSink::HandleQueued() {
  uint64_t wakeUps = 0;
  while (::read(wake_, &wakeUps, sizeof wakeUps) > 0) {
  }
  std::unique_lock lock(mutex_);
  while (!queue_.empty()) {
    Pending* pending = queue_.front();
    queue_.pop_front();
    lock.unlock();
    handler_(*pending->event);
    lock.lock();
    pending->handled = true;
    handled_.notify_all();
  }
}

}  // namespace mirk3
