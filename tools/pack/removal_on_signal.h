// Files that must not outlive an interrupted program: the partial outputs of mirk3-pack. When
// SIGINT or SIGTERM arrives, a handler unlinks every file registered here and lets the signal
// end the process as it would have without the handler. The handler touches only paths prepared
// beforehand and calls only unlink, sigaction and raise, which are safe in a signal handler.
//
// The handler is installed on the first registration, for each of the two signals whose
// disposition is still the default one: a signal the process ignores stays ignored, and a
// handler of the host program stays in place.
#pragma once

#include <signal.h>

#include <string>

namespace mirk3::pack {

// Holds SIGINT and SIGTERM back on this thread while it lives, so that a file and its
// registration are made or undone together; a signal that came meanwhile is handled at the end.
class HeldSignals {
 public:
  HeldSignals();
  ~HeldSignals();
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t previous_;
};

// Registers `path` for removal by the signal handler. Returns the registration, or -1 when the
// path is too long or too many files are registered at once.
int RemoveOnSignal(const std::string& path);

// Ends a registration (the file was renamed or removed).
void ForgetOnSignal(int registration);

}  // namespace mirk3::pack
