#include "serial/serial_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

namespace mirk3 {
namespace {

bool IsRemovalError(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

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

bool CWinRs232cSync::OpenPort(int port) {
  if (IsOpen()) return true;
  devicePath_ = portDir_ + "/" + PortName(port);
  for (int attempt = 0; attempt < timing_.openAttempts; ++attempt) {
    if (ConnectDevice(devicePath_)) return true;
    std::this_thread::sleep_for(timing_.openRetryPause);
  }
  return false;
}

bool CWinRs232cSync::ConnectDevice(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  // Exclusive use: no second opener, in this process or another. A failed attempt releases
  // its descriptor before the next one.
  if (!isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0 ||
      !ConfigurePort(fd)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  std::this_thread::sleep_for(timing_.openSettle);
  return true;
}

bool CWinRs232cSync::ConfigurePort(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, B115200);
  ::cfsetospeed(&tio, B115200);
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  // Drop DTR; a terminal without modem lines (a pseudo-terminal) has none to drop.
  int dtr = TIOCM_DTR;
  ::ioctl(fd, TIOCMBIC, &dtr);
  ::tcflush(fd, TCIOFLUSH);
  return true;
}

CWinRs232cSync::Wait CWinRs232cSync::WaitFor(short events, int timeoutMs, int* error) {
  pollfd pfd{fd_, events, 0};
  for (;;) {
    const int n = ::poll(&pfd, 1, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errno;
      return Wait::Failed;
    }
    if (n == 0) {
      *error = ETIMEDOUT;
      return Wait::TimedOut;
    }
    if (pfd.revents & (events)) return Wait::Ready;
    if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
      *error = SERIAL_DEVICE_REMOVED;
      return Wait::Removed;
    }
    return Wait::Ready;
  }
}

bool CWinRs232cSync::WriteData(const void* buffer, int length, int* error, bool pace) {
  return WriteWhileWaiting(buffer, length, error, pace, nullptr);
}

bool CWinRs232cSync::WriteWhileWaiting(const void* buffer, int length, int* error, bool pace,
                                       const std::function<bool()>& whileBlocked) {
  int code = EBADF;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  size_t done = 0;
  const size_t total = length > 0 ? static_cast<size_t>(length) : 0;
  while (IsOpen() && done < total) {
    const ssize_t n = ::write(fd_, bytes + done, total - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // The device is still taking earlier bytes: the caller's own work fills the wait.
      if (whileBlocked && whileBlocked()) continue;
      // A device that stops taking data for as long as a silent one may stay silent fails.
      if (WaitFor(POLLOUT, ToPollTimeout(timing_.firstByteTimeout), &code) != Wait::Ready) break;
      continue;
    }
    code = (n < 0 && IsRemovalError(errno)) ? SERIAL_DEVICE_REMOVED : (n < 0 ? errno : EIO);
    break;
  }
  if (IsOpen() && done == total) {
    if (pace) std::this_thread::sleep_for(Millis(5));
    return true;
  }
  if (error) *error = code;
  return false;
}

bool CWinRs232cSync::ReadData(void* buffer, int length, int* value, bool pace) {
  int code = EBADF;
  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  const size_t total = length > 0 ? static_cast<size_t>(length) : 0;
  // The first byte may take as long as the device needs to finish its work (a long erase or
  // write); every later chunk gets the same bound, so a device that stops mid-answer fails
  // instead of holding the worker for ever.
  const int timeoutMs = ToPollTimeout(timing_.firstByteTimeout);
  while (IsOpen() && done < total) {
    if (WaitFor(POLLIN, timeoutMs, &code) != Wait::Ready) break;
    if (pace) std::this_thread::sleep_for(Millis(10));
    const ssize_t n = ::read(fd_, bytes + done, total - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    code = (n == 0 || IsRemovalError(errno)) ? SERIAL_DEVICE_REMOVED : errno;
    break;
  }
  if (IsOpen() && done == total) {
    if (value) *value = static_cast<int>(done);
    return true;
  }
  if (value) *value = code;
  return false;
}

bool CWinRs232cSync::ClosePort() {
  if (!IsOpen()) return false;
  ::close(fd_);  // also releases the lock
  fd_ = -1;
  return true;
}

}  // namespace mirk3
