// The engine's serial line to one boot loader: a blocking, exclusive 115200 8-N-1 raw line
// over a POSIX terminal device. Port n is the device `<port dir>/ttyACM<n>`. Every call waits
// for its own completion; a removed device is reported distinctly and never blocks.
#pragma once

#include <functional>
#include <string>

#include "base/timing.h"

namespace mirk3 {

// Error value of a device that has gone away (unplugged, rebooted, terminal hung up). It
// stands apart from every errno value a failing call can otherwise report.
inline constexpr int SERIAL_DEVICE_REMOVED = -1000;

// The port dir: `MIRK3_PORT_DIR` when set, else /dev.
std::string DefaultPortDir();
// "ttyACM<n>": the port's display name wherever the station names a port.
std::string PortName(int port);

class CWinRs232cSync {
 public:
  explicit CWinRs232cSync(const Timing& timing = Timing{}, std::string portDir = DefaultPortDir());
  virtual ~CWinRs232cSync();
  CWinRs232cSync(const CWinRs232cSync&) = delete;
  CWinRs232cSync& operator=(const CWinRs232cSync&) = delete;

  // Opens and configures the port; up to `openAttempts` tries, each failure followed by a pause.
  bool OpenPort(int port);
  // Writes the whole buffer. On failure `error` receives SERIAL_DEVICE_REMOVED or an errno.
  bool WriteData(const void* buffer, int length, int* error = nullptr, bool pace = false);
  // WriteData that, whenever the device cannot take more bytes yet, first runs `whileBlocked`
  // (which returns false when it has nothing left to do) before it waits for the line.
  bool WriteWhileWaiting(const void* buffer, int length, int* error, bool pace,
                         const std::function<bool()>& whileBlocked);
  // Waits up to the first-byte time-out for data, then reads exactly `length` bytes. On
  // success `value` receives the count read; on failure SERIAL_DEVICE_REMOVED, ETIMEDOUT or
  // an errno.
  bool ReadData(void* buffer, int length, int* value = nullptr, bool pace = false);
  // False when the line is not open; harmless to call twice.
  bool ClosePort();
  bool IsOpen() const { return fd_ >= 0; }

  const std::string& DevicePath() const { return devicePath_; }

 private:
  bool ConnectDevice(const std::string& path);
  bool ConfigurePort(int fd);
  enum class Wait { Ready, TimedOut, Removed, Failed };
  Wait WaitFor(short events, int timeoutMs, int* error);

  Timing timing_;
  std::string portDir_;
  std::string devicePath_;
  int fd_ = -1;
};

}  // namespace mirk3
