#include "serial/line_setup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

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

// The set-up of every line: raw bytes, the given frame, no flow control of any kind, no modem
// control (a line that goes quiet is not hung up), the receiver on.
bool Configure(int fd, const LineSetup& setup, termios tio) {
  const LineSetting& s = setup.setting;
  const speed_t speed = SpeedOf(s.baudRate);
  if (speed == B0 || s.byteSize < 5 || s.byteSize > 8) {
    errno = EINVAL;
    return false;
  }
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= SizeOf(s.byteSize) | CLOCAL | CREAD;
  if (s.parity == PARITY_ODD) tio.c_cflag |= PARENB | PARODD;
  if (s.parity == PARITY_EVEN) tio.c_cflag |= PARENB;
  if (s.stopBits != STOP_BITS_ONE) tio.c_cflag |= CSTOPB;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  int drop = (setup.dtr == ModemLine::Drop ? TIOCM_DTR : 0) |
             (setup.rts == ModemLine::Drop ? TIOCM_RTS : 0);
  // A terminal without modem lines (a pseudo-terminal) has none to drop.
  if (drop != 0) ::ioctl(fd, TIOCMBIC, &drop);
  ::tcflush(fd, TCIOFLUSH);
  return true;
}

}  // namespace

SerialTerminal::SerialTerminal(SerialTerminal&& other) noexcept
    : fd_(std::move(other.fd_)), found_(other.found_), errorNumber_(other.errorNumber_) {}

SerialTerminal& SerialTerminal::operator=(SerialTerminal&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::move(other.fd_);
    found_ = other.found_;
    errorNumber_ = other.errorNumber_;
  }
  return *this;
}

LineError SerialTerminal::Refuse(LineError why, int error) {
  errorNumber_ = error;
  return why;
}

LineError SerialTerminal::Open(const std::string& path, const LineSetup& setup) {
  Release();
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return Refuse(LineErrorFromErrno(errno), errno);
  if (!::isatty(fd.Get())) return Refuse(LineError::Other, ENOTTY);
  // Exclusive use: no second opener, in this process or another.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd.Get(), TIOCEXCL) != 0) {
    return Refuse(LineError::Busy, errno);
  }
  termios found{};
  if (::tcgetattr(fd.Get(), &found) != 0) return Refuse(LineErrorFromErrno(errno), errno);
  if (!Configure(fd.Get(), setup, found)) {
    const int error = errno;
    ::tcsetattr(fd.Get(), TCSANOW, &found);  // a half-made set-up is not left behind
    ::ioctl(fd.Get(), TIOCNXCL);
    return Refuse(LineErrorFromErrno(error), error);
  }
  fd_ = std::move(fd);
  found_ = found;
  errorNumber_ = 0;
  return LineError::None;
}

void SerialTerminal::Purge() {
  if (fd_) ::tcflush(fd_.Get(), TCIOFLUSH);
}

void SerialTerminal::DropDtr() {
  int dtr = TIOCM_DTR;
  if (fd_) ::ioctl(fd_.Get(), TIOCMBIC, &dtr);
}

void SerialTerminal::Release() {
  if (!fd_) return;
  // A device that has gone refuses both; there is nothing left to give back then.
  ::tcsetattr(fd_.Get(), TCSANOW, &found_);
  // The next opener, maybe this station a moment later, must not be refused by a terminal
  // that another holder keeps alive.
  ::ioctl(fd_.Get(), TIOCNXCL);
  fd_.Reset();  // also releases the lock
}

}  // namespace mirk3
