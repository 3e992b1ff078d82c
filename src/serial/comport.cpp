#include "serial/comport.h"

#include <sys/ioctl.h>

#include <chrono>
#include <thread>

#include "serial/timed_write.h"

namespace mirk3 {

CComport::~CComport() { Close(); }

bool CComport::Open(const std::string& devicePath, int baudRate, int byteSize, int parity,
                    int stopBits) {
  if (IsOpen()) Close();
  setting_ = {baudRate, byteSize, parity, stopBits};
  devicePath_ = devicePath;
  lastError_ = line_.Open(devicePath, LineSetup{setting_, ModemLine::Drop, ModemLine::Drop});
  return lastError_ == LineError::None;
}

int CComport::Send(const void* buffer, int length) {
  if (!IsOpen()) return 0;
  const int limitMs = WriteMsPerByte(setting_.baudRate) * (length > 0 ? length : 0);
  const int written =
      WriteWithLimit(line_.Fd(), static_cast<const uint8_t*>(buffer), length, limitMs, &lastError_);
  if (written == 0 && lastError_ != LineError::None && lastError_ != LineError::TimedOut) {
    return -1;
  }
  // The bytes leave the adapter before the caller's next pause starts; bounded by the same
  // limit, as a device that never drains must not hold the caller.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  int queued = 0;
  while (::ioctl(line_.Fd().Get(), TIOCOUTQ, &queued) == 0 && queued > 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return written;
}

void CComport::Close() {
  if (!IsOpen()) return;
  line_.Purge();
  line_.DropDtr();
  line_.Release();
}

}  // namespace mirk3
