#include "support/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "base/le.h"

namespace mirk3::test {

PtyPeer::PtyPeer(const std::string& portDir, int port) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error("cannot create a pseudo-terminal");
  }
  const std::string slave = ptsname(master_);
  // Raw from the start, so nothing the station writes is echoed back before it configures.
  keepSlave_ = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  tcgetattr(keepSlave_, &tio);
  cfmakeraw(&tio);
  tcsetattr(keepSlave_, TCSANOW, &tio);
  link_ = portDir + "/ttyACM" + std::to_string(port);
  ::unlink(link_.c_str());
  if (::symlink(slave.c_str(), link_.c_str()) != 0) throw std::runtime_error("symlink failed");
}

PtyPeer::~PtyPeer() { Unplug(); }

void PtyPeer::Unplug() {
  if (master_ < 0) return;
  ::unlink(link_.c_str());
  ::close(keepSlave_);
  ::close(master_);
  keepSlave_ = master_ = -1;
}

std::vector<uint8_t> PtyPeer::Read(size_t count, std::chrono::milliseconds timeout) {
  std::vector<uint8_t> bytes(count);
  size_t done = 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (master_ >= 0 && done < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd pfd{master_, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t n = ::read(master_, bytes.data() + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
      break;
    }
  }
  bytes.resize(done);
  return bytes;
}

bool PtyPeer::Write(const void* data, size_t count) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (master_ >= 0 && done < count) {
    const ssize_t n = ::write(master_, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
      return false;
    }
  }
  return done == count;
}

bool PtyPeer::Respond(int32_t id, int32_t value) {
  uint8_t answer[8];
  PutLe32(answer, static_cast<uint32_t>(id));
  PutLe32(answer + 4, static_cast<uint32_t>(value));
  return Write(answer, sizeof answer);
}

}  // namespace mirk3::test
