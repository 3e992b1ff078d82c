#include "devsim/phone.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace mirk3::devsim {

Phone::Phone(PhoneSetup setup, PhonePlaces places)
    : port_(setup.port),
      places_(std::move(places)),
      stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      line_(stopFd_),
      store_(places_.storeDir),
      bootLoader_(std::move(setup), &line_, &store_, &trace_) {}

Phone::~Phone() {
  Stop();
  if (stopFd_ >= 0) ::close(stopFd_);
}

bool Phone::Start(std::string* error) {
  if (stopFd_ < 0) {
    *error = "cannot create an event descriptor";
    return false;
  }
  if (!store_.Prepare(error)) return false;
  if (!places_.traceFile.empty() && !trace_.OpenFile(places_.traceFile, error)) return false;
  if (!line_.Open(places_.linkPath, error)) return false;
  thread_ = std::thread([this] { bootLoader_.Serve(); });
  return true;
}

void Phone::Stop() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    if (::write(stopFd_, &one, sizeof one) != sizeof one) {
      // An eventfd only refuses a write when its counter would overflow: it is set already.
    }
    thread_.join();
  }
  line_.Unplug();
}

}  // namespace mirk3::devsim
