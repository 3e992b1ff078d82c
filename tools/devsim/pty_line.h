// The boot loader's end of the cable: a pseudo-terminal whose terminal side is published as
// <port dir>/ttyACM<n>, a symbolic link to /dev/pts/N. The phone keeps one descriptor of the
// terminal side open itself, so the terminal lives through any number of host open/close
// cycles; it watches the terminal node to learn when the host has let go (the host's
// exclusive mode is then lifted and the bytes it never read are dropped). Unplugging removes
// the link and closes both sides: the host's reads and writes fail as with a pulled cable.
//
// The same line can instead serve an existing terminal, such as a USB gadget's /dev/ttyGS<n>
// whose host end is a real ttyACM (OpenExisting): nothing is published, and a hang-up (the
// gadget pulled off its bus) is taken as the host leaving: the terminal is opened anew and
// serves whoever greets next.
//
// Every wait also watches a stop descriptor (an eventfd), so a phone can be stopped while it
// waits for the host.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/file.h"

namespace mirk3::devsim {

enum class Io {
  Ok,
  Stopped,   // the stop descriptor fired
  HostLeft,  // every host descriptor of the terminal was closed since the last AcceptHostLeft
  Failed,    // the pseudo-terminal itself failed (or was unplugged)
};

class PtyLine {
 public:
  explicit PtyLine(int stopFd) : stopFd_(stopFd) {}
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Creates the pseudo-terminal in raw mode and publishes it at `linkPath` in one step (see
  // PublishLink). An existing symbolic link there (left by an earlier run) is replaced;
  // anything else is refused.
  bool Open(const std::string& linkPath, std::string* error);
  // Serves the existing terminal at `ttyPath` in raw mode, without echo.
  bool OpenExisting(const std::string& ttyPath, std::string* error);
  // Runs once the published link is gone (or the existing terminal let go), on whichever thread pulled the cable: what else the
  // phone published (its USB device) goes with it. Set before Open.
  void SetAfterUnplug(std::function<void()> afterUnplug) { afterUnplug_ = std::move(afterUnplug); }

  const std::string& SlavePath() const { return slavePath_; }
  const std::string& LinkPath() const { return linkPath_; }
  bool Plugged() const { return plugged_.load(); }

  // Looks for a stop or a departed host without waiting.
  Io Check();
  // On kHostLeft the bytes already read are put back, for the search for a greeting.
  Io ReadExact(uint8_t* data, size_t size);
  // Waits for at least one byte, then returns what is there (at most `max`).
  Io ReadSome(uint8_t* data, size_t max, size_t* got);
  // Puts bytes back in front of the next read (what followed a greeting in the same read).
  void Unread(const uint8_t* data, size_t size);
  Io WriteAll(const uint8_t* data, size_t size);

  // Waits until the host has read everything written to it, the host left, or `timeout`.
  void WaitDrained(std::chrono::milliseconds timeout);
  // Sleeps; false when stopped meanwhile.
  bool Sleep(std::chrono::milliseconds duration);
  // Clears kHostLeft. When no other host has the port open yet, lifts the old host's
  // exclusive mode and drops what it never read.
  void AcceptHostLeft();
  // The cable is pulled: the link disappears and both sides close.
  void Unplug();

 private:
  // Polls the master for `events` together with the stop and watch descriptors.
  Io Wait(short events, int timeoutMs);
  void DrainWatchEvents();
  // An existing terminal that hung up is opened again: Io::HostLeft once it is, Io::Stopped
  // when stopped meanwhile. A pseudo-terminal that fails stays failed.
  Io Reopen();

  int stopFd_;
  UniqueFd master_;
  UniqueFd slave_;
  UniqueFd watch_;  // inotify descriptor watching the terminal node
  std::string slavePath_;
  std::string linkPath_;
  std::string ttyPath_;  // an existing terminal served instead of a pseudo-terminal
  bool linked_ = false;  // published: the link made, or the existing terminal opened
  std::atomic<bool> plugged_{false};
  int hostOpens_ = 0;
  bool hostLeft_ = false;
  std::vector<uint8_t> pending_;  // put back by Unread
  std::function<void()> afterUnplug_;
};

}  // namespace mirk3::devsim
