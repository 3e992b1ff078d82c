#include "serial/jig_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace mirk3 {
namespace {

speed_t SpeedOf(int baudRate) {
  switch (baudRate) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      return B0;
  }
}

tcflag_t SizeOf(int byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

bool Configure(int fd, const LineSetting& setting) {
  const speed_t speed = SpeedOf(setting.baudRate);
  termios tio{};
  if (speed == B0 || setting.byteSize < 5 || setting.byteSize > 8 || ::tcgetattr(fd, &tio) != 0) {
    errno = EINVAL;
    return false;
  }
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= SizeOf(setting.byteSize) | CLOCAL | CREAD;
  if (setting.parity == PARITY_ODD) tio.c_cflag |= PARENB | PARODD;
  if (setting.parity == PARITY_EVEN) tio.c_cflag |= PARENB;
  if (setting.stopBits != STOP_BITS_ONE) tio.c_cflag |= CSTOPB;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  // A terminal without modem lines (a pseudo-terminal) has no DTR to drop.
  int dtr = TIOCM_DTR;
  ::ioctl(fd, TIOCMBIC, &dtr);
  ::tcflush(fd, TCIOFLUSH);
  return true;
}

}  // namespace

OpenedTerminal OpenJigTerminal(const std::string& path, const LineSetting& setting) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {-1, LineErrorFromErrno(errno)};
  LineError why = LineError::None;
  if (!::isatty(fd)) {
    why = LineError::Other;
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
    why = LineError::Busy;
  } else if (!Configure(fd, setting)) {
    why = LineErrorFromErrno(errno);
  }
  if (why == LineError::None) return {fd, why};
  ::close(fd);
  return {-1, why};
}

void ReleaseJigTerminal(int fd) {
  if (fd < 0) return;
  ::tcflush(fd, TCIOFLUSH);
  int dtr = TIOCM_DTR;
  ::ioctl(fd, TIOCMBIC, &dtr);
  ::ioctl(fd, TIOCNXCL);
  ::close(fd);  // also releases the lock
}

int WriteWithLimit(int fd, const uint8_t* bytes, int length, int limitMs, LineError* error) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs < 0 ? 0 : limitMs);
  *error = LineError::None;
  int done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, bytes + done, static_cast<size_t>(length - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno != EAGAIN) {
      *error = n == 0 ? LineError::Removed : LineErrorFromErrno(errno);
      break;
    }
    int waitMs = -1;
    if (limitMs >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        *error = LineError::TimedOut;
        break;
      }
      waitMs = static_cast<int>(left);
    }
    pollfd pfd{fd, POLLOUT, 0};
    const int ready = ::poll(&pfd, 1, waitMs);
    if (ready < 0 && errno != EINTR) {
      *error = LineErrorFromErrno(errno);
      break;
    }
    if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(pfd.revents & POLLOUT)) {
      *error = LineError::Removed;
      break;
    }
  }
  return done;
}

}  // namespace mirk3
