#include "serial/serial_channel.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "serial/timed_write.h"

namespace mirk3 {
namespace {

// A jig that takes no byte for this long is given up: the station's main thread writes to it
// and must never hang on it.
constexpr int WRITE_LIMIT_MS = 2000;

}  // namespace

void CSerialChannel::Reset() {
  ReleaseHandles();
  devicePath_.clear();
}

bool CSerialChannel::Connect(const std::string& devicePath, int baudRate) {
  if (IsConnected()) return true;
  LineSetup setup{LineSetting{}, ModemLine::AsDriverSets, ModemLine::AsDriverSets};
  setup.setting.baudRate = baudRate;
  lastError_ = line_.Open(devicePath, setup);
  if (lastError_ != LineError::None) return false;
  devicePath_ = devicePath;
  return true;
}

int CSerialChannel::Transmit(const void* buffer, int length, int* completedAtOnce) {
  if (!IsConnected()) {
    lastError_ = LineError::NotOpen;
    if (completedAtOnce) *completedAtOnce = 0;
    return 0;
  }
  // One plain write first: when it takes everything, the transfer completed at once.
  const ssize_t first = ::write(line_.Fd().Get(), buffer, length > 0 ? static_cast<size_t>(length) : 0);
  const int firstCount = first > 0 ? static_cast<int>(first) : 0;
  if (completedAtOnce) *completedAtOnce = firstCount == length ? 1 : 0;
  if (firstCount == length) {
    lastError_ = LineError::None;
    return length;
  }
  if (first < 0 && errno != EAGAIN && errno != EINTR) {
    lastError_ = LineErrorFromErrno(errno);
    return 0;
  }
  const auto* rest = static_cast<const uint8_t*>(buffer) + firstCount;
  return firstCount + WriteWithLimit(line_.Fd(), rest, length - firstCount, WRITE_LIMIT_MS, &lastError_);
}

int CSerialChannel::Receive(void* buffer, int maxLength) {
  if (!IsConnected() || maxLength <= 0) return 0;
  int waiting = 0;
  if (::ioctl(line_.Fd().Get(), FIONREAD, &waiting) != 0) {
    lastError_ = LineErrorFromErrno(errno);
    return 0;
  }
  const int wanted = std::min(waiting, maxLength);
  if (wanted <= 0) return 0;
  const ssize_t n = ::read(line_.Fd().Get(), buffer, static_cast<size_t>(wanted));
  if (n < 0) {
    lastError_ = errno == EAGAIN ? LineError::None : LineErrorFromErrno(errno);
    return 0;
  }
  lastError_ = LineError::None;
  return static_cast<int>(n);
}

void CSerialChannel::WaitForInput(Millis limit) {
  if (!IsConnected() || limit.count() <= 0) return;
  pollfd pfd{line_.Fd().Get(), POLLIN, 0};
  while (::poll(&pfd, 1, static_cast<int>(limit.count())) < 0 && errno == EINTR) {
  }
}

void CSerialChannel::Disconnect() {
  if (!IsConnected()) return;
  std::this_thread::sleep_for(disconnectPause_);
  ReleaseHandles();
}

void CSerialChannel::ReleaseHandles() {
  line_.DropDtr();
  line_.Purge();
  line_.Release();
}

}  // namespace mirk3
