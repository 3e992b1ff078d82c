#include "devsim/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "devsim/atomic_link.h"

namespace mirk3::devsim {
namespace {

using Clock = std::chrono::steady_clock;

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

bool SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool MakeRaw(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  ::cfsetspeed(&tio, B115200);
  tio.c_cflag |= CLOCAL | CREAD;
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

// A gadget's terminal starts cooked and echoing: a phone that echoed the host's bytes back
// would answer every request with garbage.
UniqueFd OpenRawTerminal(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (fd && !MakeRaw(fd.Get())) fd.Reset();
  return fd;
}

constexpr auto kReopenPause = std::chrono::milliseconds(50);

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
}

}  // namespace

PtyLine::~PtyLine() { Unplug(); }

bool PtyLine::Open(const std::string& linkPath, std::string* error) {
  master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  const int master = master_.Get();
  char name[128] = {};
  if (!master_ || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, name, sizeof name) != 0 || !SetNonBlocking(master)) {
    *error = Errno("cannot create a pseudo-terminal");
    return false;
  }
  slavePath_ = name;
  // The phone's own descriptor of the terminal side: raw before anyone can see the link.
  slave_.Reset(::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!slave_ || !MakeRaw(slave_.Get())) {
    *error = Errno("cannot open and configure " + slavePath_);
    return false;
  }
  // Without the watch the phone still works; it only re-greets a host that sends "MIRK"
  // where a request would start.
  watch_.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (watch_ && ::inotify_add_watch(watch_.Get(), slavePath_.c_str(), IN_OPEN | IN_CLOSE) < 0) {
    watch_.Reset();
  }
  linkPath_ = linkPath;
  if (!PublishLink(slavePath_, linkPath, error)) return false;
  linked_ = true;
  plugged_ = true;
  return true;
}

bool PtyLine::OpenExisting(const std::string& ttyPath, std::string* error) {
  master_ = OpenRawTerminal(ttyPath);
  if (!master_) {
    *error = Errno("cannot open and configure " + ttyPath);
    return false;
  }
  ttyPath_ = ttyPath;
  slavePath_ = ttyPath;
  linkPath_ = ttyPath;
  linked_ = true;
  plugged_ = true;
  return true;
}

Io PtyLine::Reopen() {
  if (ttyPath_.empty() || !linked_) return Io::Failed;
  master_.Reset();
  pending_.clear();
  // The hang-up is finished off by the kernel a moment later; a reopen before that would be
  // hung up with the old descriptor.
  while (Sleep(kReopenPause)) {
    master_ = OpenRawTerminal(ttyPath_);
    if (master_) return Io::HostLeft;
  }
  return Io::Stopped;
}

void PtyLine::DrainWatchEvents() {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(watch_.Get(), buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      at += static_cast<ssize_t>(sizeof event + event.len);
      if (event.mask & IN_OPEN) ++hostOpens_;
      if ((event.mask & IN_CLOSE) && hostOpens_ > 0 && --hostOpens_ == 0) hostLeft_ = true;
    }
  }
}

Io PtyLine::Wait(short events, int timeoutMs) {
  if (!master_) return Io::Failed;
  pollfd fds[3] = {{master_.Get(), events, 0}, {stopFd_, POLLIN, 0}, {watch_.Get(), POLLIN, 0}};
  const int n = ::poll(fds, watch_ ? 3 : 2, timeoutMs);
  if (n < 0) return errno == EINTR ? Io::Ok : Io::Failed;
  if (fds[1].revents) return Io::Stopped;
  if (watch_ && fds[2].revents) DrainWatchEvents();
  if (hostLeft_) return Io::HostLeft;
  // The phone holds the terminal side open, so a hang-up here means the terminal is broken;
  // an existing terminal hangs up when its gadget leaves the bus.
  if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return Reopen();
  return Io::Ok;
}

Io PtyLine::Check() {
  if (!master_) return Io::Failed;
  pollfd fds[2] = {{stopFd_, POLLIN, 0}, {watch_.Get(), POLLIN, 0}};
  if (::poll(fds, watch_ ? 2 : 1, 0) > 0) {
    if (fds[0].revents) return Io::Stopped;
    if (watch_ && fds[1].revents) DrainWatchEvents();
  }
  return hostLeft_ ? Io::HostLeft : Io::Ok;
}

Io PtyLine::ReadSome(uint8_t* data, size_t max, size_t* got) {
  *got = 0;
  if (hostLeft_) return Io::HostLeft;
  if (!pending_.empty()) {
    *got = std::min(max, pending_.size());
    std::copy_n(pending_.begin(), *got, data);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(*got));
    return Io::Ok;
  }
  while (master_) {
    const ssize_t n = ::read(master_.Get(), data, max);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return Io::Ok;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno != EAGAIN) return Reopen();
    if (const Io io = Wait(POLLIN, -1); io != Io::Ok) return io;
  }
  return Io::Failed;
}

Io PtyLine::ReadExact(uint8_t* data, size_t size) {
  if (const Io io = Check(); io != Io::Ok) return io;
  for (size_t done = 0; done < size;) {
    size_t got = 0;
    if (const Io io = ReadSome(data + done, size - done, &got); io != Io::Ok) {
      // What arrived may end with the next host's greeting: it is read again.
      if (io == Io::HostLeft) Unread(data, done);
      return io;
    }
    done += got;
  }
  return Io::Ok;
}

void PtyLine::Unread(const uint8_t* data, size_t size) {
  pending_.insert(pending_.begin(), data, data + size);
}

Io PtyLine::WriteAll(const uint8_t* data, size_t size) {
  for (size_t done = 0; done < size;) {
    if (hostLeft_) return Io::HostLeft;
    if (!master_) return Io::Failed;
    const ssize_t n = ::write(master_.Get(), data + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno != EAGAIN) return Reopen();
    // A host that stopped reading fills the terminal; it is waited for, not dropped.
    if (const Io io = Wait(POLLOUT, -1); io != Io::Ok) return io;
  }
  return Io::Ok;
}

void PtyLine::WaitDrained(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  int emptyChecks = 0;
  if (!ttyPath_.empty()) {
    // The gadget's queue empties into USB transfers that take a moment more to complete.
    int queued = 0;
    while (master_ && ::ioctl(master_.Get(), TIOCOUTQ, &queued) == 0 && queued > 0 &&
           Clock::now() < deadline) {
      if (!Sleep(std::chrono::milliseconds(2))) return;
    }
    Sleep(std::min(kReopenPause, std::chrono::milliseconds(RemainingMs(deadline))));
    return;
  }
  // Written bytes reach the terminal side's queue a moment after the write, so one empty
  // look is not enough to say that the host has read them.
  while (slave_ && emptyChecks < 3 && Clock::now() < deadline) {
    int queued = 0;
    if (::ioctl(slave_.Get(), FIONREAD, &queued) != 0) return;
    emptyChecks = queued == 0 ? emptyChecks + 1 : 0;
    if (Wait(0, std::min(2, RemainingMs(deadline))) != Io::Ok) return;
  }
}

bool PtyLine::Sleep(std::chrono::milliseconds duration) {
  const auto deadline = Clock::now() + duration;
  for (;;) {
    pollfd stop{stopFd_, POLLIN, 0};
    const int n = ::poll(&stop, 1, RemainingMs(deadline));
    if (n > 0) return false;
    if (n == 0 && Clock::now() >= deadline) return true;
  }
}

void PtyLine::AcceptHostLeft() {
  hostLeft_ = false;
  if (watch_) DrainWatchEvents();
  // With the next host already there, its exclusive mode stays, and what waits for it may be
  // its greeting's answer.
  if (!slave_ || hostOpens_ > 0) return;
  ::ioctl(slave_.Get(), TIOCNXCL);    // the next host may open the port again
  ::tcflush(slave_.Get(), TCIFLUSH);  // answers the old host never read
  MakeRaw(slave_.Get());              // in case the old host left the terminal cooked
}

void PtyLine::Unplug() {
  plugged_ = false;
  const bool wasLinked = linked_;
  if (linked_) {
    if (ttyPath_.empty()) WithdrawLink(slavePath_, linkPath_);
    linked_ = false;
  }
  watch_.Reset();
  slave_.Reset();
  master_.Reset();
  // After the link: a watcher that sees the port go must not find it without its device.
  if (wasLinked && afterUnplug_) afterUnplug_();
}

}  // namespace mirk3::devsim
