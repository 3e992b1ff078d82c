#include "serial/serial_line.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace mirk3 {
namespace {

int ToPollTimeout(Millis timeout) {
  const auto ms = timeout.count();
  return ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms < 0 ? 0 : ms);
}

}  // namespace

std::string DefaultPortDir() {
  const char* dir = std::getenv("MIRK3_PORT_DIR");
  return (dir && *dir) ? dir : "/dev";
}

std::string PortName(int port) { return "ttyACM" + std::to_string(port); }

CWinRs232cSync::CWinRs232cSync(const Timing& timing, std::string portDir)
    : timing_(timing), portDir_(std::move(portDir)) {}

CWinRs232cSync::~CWinRs232cSync() { ClosePort(); }

bool CWinRs232cSync::OpenPort(int port, const OpenAttemptFailed& onFailedAttempt) {
  if (IsOpen()) return true;
  devicePath_ = portDir_ + "/" + PortName(port);
  for (int attempt = 1; attempt <= timing_.openAttempts; ++attempt) {
    lastError_ = ConnectDevice(devicePath_);
    if (lastError_ == LineError::None) return true;
    if (onFailedAttempt) onFailedAttempt(attempt, timing_.openAttempts, lastError_);
    std::this_thread::sleep_for(timing_.openRetryPause);
  }
  return false;
}

LineError CWinRs232cSync::ConnectDevice(const std::string& path) {
  // A failed attempt releases its descriptor before the next one.
  const LineError why = line_.Open(path, LineSetup{});
  if (why == LineError::None) std::this_thread::sleep_for(timing_.openSettle);
  return why;
}

std::string CWinRs232cSync::OpenProblem() const {
  std::string text = devicePath_ + ": ";
  switch (lastError_) {
    case LineError::NotFound:
      return text + "no such port (is the phone connected and in download mode?)";
    case LineError::Busy:
      return text + "in use by another program";
    case LineError::PermissionDenied: {
      struct stat st {};
      if (::stat(devicePath_.c_str(), &st) != 0) return text + "permission denied";
      const group* owners = ::getgrgid(st.st_gid);
      const passwd* owner = ::getpwuid(st.st_uid);
      const std::string groupName = owners ? owners->gr_name : std::to_string(st.st_gid);
      char mode[16];
      std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
      return text + "permission denied (owner " +
             (owner ? owner->pw_name : std::to_string(st.st_uid)) + ", group " + groupName +
             ", mode " + mode + "); join the group " + groupName + " and log in again";
    }
    case LineError::Other:
      return text + "not a serial port, or it cannot be set up" +
             (line_.ErrorNumber() != 0 ? std::string(" (") + std::strerror(line_.ErrorNumber()) + ")"
                                       : std::string());
    default:
      return text + LineErrorText(lastError_);
  }
}

bool CWinRs232cSync::Fail(LineError error) {
  // A line closed by an earlier failure keeps that failure's kind.
  if (!(error == LineError::NotOpen && lastError_ != LineError::None)) lastError_ = error;
  return false;
}

LineError CWinRs232cSync::WaitFor(short events, int timeoutMs) {
  pollfd pfd{line_.Fd().Get(), events, 0};
  for (;;) {
    const int n = ::poll(&pfd, 1, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return LineErrorFromErrno(errno);
    if (n == 0) return LineError::TimedOut;
    if (pfd.revents & events) return LineError::None;
    if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) return LineError::Removed;
    return LineError::None;
  }
}

bool CWinRs232cSync::WriteData(const void* buffer, int length) {
  return WriteWhileWaiting(buffer, length, nullptr);
}

bool CWinRs232cSync::WriteWhileWaiting(const void* buffer, int length,
                                       const std::function<bool()>& whileBlocked) {
  if (!IsOpen()) return Fail(LineError::NotOpen);
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  size_t done = 0;
  const size_t total = length > 0 ? static_cast<size_t>(length) : 0;
  while (done < total) {
    const ssize_t n = ::write(line_.Fd().Get(), bytes + done, total - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // The device is still taking earlier bytes: the caller's own work fills the wait.
      if (whileBlocked && whileBlocked()) continue;
      // A device that stops taking data for as long as a silent one may stay silent fails.
      const LineError waited = WaitFor(POLLOUT, ToPollTimeout(timing_.firstByteTimeout));
      if (waited != LineError::None) return Fail(waited);
      continue;
    }
    return Fail(n < 0 ? LineErrorFromErrno(errno) : LineError::Removed);
  }
  lastError_ = LineError::None;
  return true;
}

bool CWinRs232cSync::ReadData(void* buffer, int length) {
  if (!IsOpen()) return Fail(LineError::NotOpen);
  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  const size_t total = length > 0 ? static_cast<size_t>(length) : 0;
  // The first byte may take as long as the device needs to finish its work (a long erase or
  // write); every later chunk gets the same bound, so a device that stops mid-answer fails
  // instead of holding the worker for ever.
  const int timeoutMs = ToPollTimeout(timing_.firstByteTimeout);
  while (done < total) {
    const LineError waited = WaitFor(POLLIN, timeoutMs);
    if (waited != LineError::None) return Fail(waited);
    const ssize_t n = ::read(line_.Fd().Get(), bytes + done, total - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    // The end of the data on a terminal is its hang-up: the phone has gone.
    return Fail(n == 0 ? LineError::Removed : LineErrorFromErrno(errno));
  }
  lastError_ = LineError::None;
  return true;
}

bool CWinRs232cSync::ClosePort() {
  if (!IsOpen()) return false;
  line_.Release();
  return true;
}

}  // namespace mirk3
