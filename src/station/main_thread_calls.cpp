#include "station/main_thread_calls.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace mirk3 {

MainThreadCalls::MainThreadCalls() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  notifier_ = std::make_unique<QSocketNotifier>(wake_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { RunQueued(); });
}

MainThreadCalls::~MainThreadCalls() {
  notifier_.reset();
  if (wake_ >= 0) ::close(wake_);
}

void MainThreadCalls::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(call));
  }
  const uint64_t one = 1;
  // A full counter already wakes the loop; nothing else can go wrong with an eventfd.
  [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
}

void MainThreadCalls::RunQueued() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = ::read(wake_, &count, sizeof count);
  std::deque<std::function<void()>> calls;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls.swap(queue_);
  }
  for (auto& call : calls) call();
}

}  // namespace mirk3
