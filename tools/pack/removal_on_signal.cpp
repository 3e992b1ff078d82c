#include "pack/removal_on_signal.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

namespace mirk3::pack {
namespace {

// More than the outputs one command writes at once (keygen: two).
constexpr size_t REGISTRATIONS = 16;

struct Registration {
  std::atomic<bool> used{false};
  char path[PATH_MAX] = {};
};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads the flags");

std::array<Registration, REGISTRATIONS> registrations;
std::mutex registering;
bool installed = false;

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

extern "C" void RemoveRegisteredFiles(int signal) {
  for (const Registration& registration : registrations) {
    if (registration.used.load(std::memory_order_acquire)) ::unlink(registration.path);
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  // Pending until the handler returns; then the default action ends the process.
  ::raise(signal);
}

void InstallHandler() {
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = RemoveRegisteredFiles;
    action.sa_mask = InterruptSignals();
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace

HeldSignals::HeldSignals() {
  const sigset_t held = InterruptSignals();
  pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

HeldSignals::~HeldSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

int RemoveOnSignal(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  const std::lock_guard lock(registering);
  if (!installed) InstallHandler();
  installed = true;
  for (size_t i = 0; i < registrations.size(); ++i) {
    Registration& registration = registrations[i];
    if (registration.used.load(std::memory_order_relaxed)) continue;
    std::memcpy(registration.path, path.c_str(), path.size() + 1);
    registration.used.store(true, std::memory_order_release);
    return static_cast<int>(i);
  }
  return -1;
}

void ForgetOnSignal(int registration) {
  if (registration < 0 || static_cast<size_t>(registration) >= registrations.size()) return;
  registrations[static_cast<size_t>(registration)].used.store(false, std::memory_order_release);
}

}  // namespace mirk3::pack
