#include "support/raw_host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "wire/handshake.h"
#include "wire/request_packet.h"
#include "wire/request_table.h"

namespace mirk3::test {
namespace {

using Clock = std::chrono::steady_clock;

int LeftMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

bool Gone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

// Waits for `events`; kOk when ready, else why not.
HostIo Await(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd pfd{fd, events, 0};
    const int n = ::poll(&pfd, 1, LeftMs(deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return HostIo::Error;
    if (n == 0) return HostIo::Timeout;
    if (pfd.revents & events) return HostIo::Ok;
    return HostIo::Gone;  // POLLHUP / POLLERR without data
  }
}

}  // namespace

bool RawHost::Open(const std::string& path, Millis timeout) {
  Close();
  const auto deadline = Clock::now() + timeout;
  do {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    termios tio{};
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ioctl(fd, TIOCEXCL) == 0 &&
        ::tcgetattr(fd, &tio) == 0) {
      ::cfmakeraw(&tio);
      ::cfsetspeed(&tio, B115200);
      tio.c_cflag |= CLOCAL | CREAD;
      ::tcsetattr(fd, TCSANOW, &tio);
      ::tcflush(fd, TCIOFLUSH);
      fd_ = fd;
      return true;
    }
    if (fd >= 0) ::close(fd);
    std::this_thread::sleep_for(Millis(20));
  } while (Clock::now() < deadline);
  return false;
}

void RawHost::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

HostIo RawHost::Write(const void* data, size_t size, Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t done = 0; done < size;) {
    if (fd_ < 0) return HostIo::Error;
    const ssize_t n = ::write(fd_, bytes + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      if (const HostIo io = Await(fd_, POLLOUT, deadline); io != HostIo::Ok) return io;
    } else if (n < 0 && errno != EINTR) {
      return Gone(errno) ? HostIo::Gone : HostIo::Error;
    }
  }
  return HostIo::Ok;
}

HostIo RawHost::Read(void* data, size_t size, Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  auto* bytes = static_cast<uint8_t*>(data);
  for (size_t done = 0; done < size;) {
    if (fd_ < 0) return HostIo::Error;
    if (const HostIo io = Await(fd_, POLLIN, deadline); io != HostIo::Ok) return io;
    const ssize_t n = ::read(fd_, bytes + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0) {
      return HostIo::Gone;  // the terminal was hung up
    } else if (errno != EAGAIN && errno != EINTR) {
      return Gone(errno) ? HostIo::Gone : HostIo::Error;
    }
  }
  return HostIo::Ok;
}

std::string RawHost::Greet(Millis timeout) {
  if (Write(HANDSHAKE_HOST, HANDSHAKE_LENGTH) != HostIo::Ok) return {};
  char answer[HANDSHAKE_LENGTH];
  if (Read(answer, sizeof answer, timeout) != HostIo::Ok) return {};
  return std::string(answer, sizeof answer);
}

bool RawHost::Send(int32_t type, int32_t subType, std::initializer_list<int32_t> words) {
  RequestPacket request;
  request.type = type;
  request.subType = subType;
  std::copy_n(words.begin(), std::min<size_t>(words.size(), REQUEST_MAX_WORDS),
              request.words.begin());
  const auto bytes = request.Encode();
  return Write(bytes.data(), bytes.size()) == HostIo::Ok;
}

std::optional<ResponsePacket> RawHost::Request(int32_t type, int32_t subType,
                                               std::initializer_list<int32_t> words,
                                               Millis timeout) {
  if (!Send(type, subType, words)) return {};
  uint8_t bytes[RESPONSE_PACKET_SIZE];
  if (Read(bytes, sizeof bytes, timeout) != HostIo::Ok) return {};
  return ResponsePacket::Decode(bytes);
}

std::vector<uint8_t> RawHost::ReadPieces(int32_t type, int32_t pieceSubType, int32_t size) {
  std::vector<uint8_t> record(static_cast<size_t>(std::max(size, 0)));
  for (size_t at = 0; at < record.size(); at += PIECE_SIZE) {
    const auto index = static_cast<int32_t>(at / PIECE_SIZE);
    const size_t length = std::min<size_t>(PIECE_SIZE, record.size() - at);
    if (!Send(type, pieceSubType, {index}) || Read(&record[at], length) != HostIo::Ok) return {};
  }
  return record;
}

}  // namespace mirk3::test
