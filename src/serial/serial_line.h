// The engine's serial line to one boot loader: a blocking, exclusive 115200 8-N-1 raw line
// over a POSIX terminal device. Port n is the device `<port dir>/ttyACM<n>`. Every call waits
// for its own completion; a removed device is reported distinctly and never blocks. The open
// drops DTR and leaves RTS as the driver sets it; the close gives the line back as it was
// found.
#pragma once

#include <functional>
#include <string>

#include "base/timing.h"
#include "serial/byte_line.h"
#include "serial/line_error.h"
#include "serial/line_setup.h"

namespace mirk3 {

// The port dir: `MIRK3_PORT_DIR` when set, else /dev.
std::string DefaultPortDir();
// "ttyACM<n>": the port's display name wherever the station names a port.
std::string PortName(int port);

// Told after every failed attempt to open a port: which attempt of how many, and why.
using OpenAttemptFailed = std::function<void(int attempt, int attempts, LineError why)>;

class CWinRs232cSync : public ByteLine {
 public:
  explicit CWinRs232cSync(const Timing& timing = Timing{}, std::string portDir = DefaultPortDir());
  ~CWinRs232cSync() override;
  CWinRs232cSync(const CWinRs232cSync&) = delete;
  CWinRs232cSync& operator=(const CWinRs232cSync&) = delete;

  // Opens and configures the port; up to `openAttempts` tries, each failure followed by a pause
  // (and told to `onFailedAttempt`, when given). After a failure, LastError and OpenProblem say
  // why the last attempt failed.
  bool OpenPort(int port, const OpenAttemptFailed& onFailedAttempt = {});
  bool WriteData(const void* buffer, int length) override;
  bool WriteWhileWaiting(const void* buffer, int length,
                         const std::function<bool()>& whileBlocked) override;
  // Waits up to the first-byte time-out for the first byte, and as long for every later one.
  bool ReadData(void* buffer, int length) override;
  bool ClosePort() override;
  LineError LastError() const override { return lastError_; }
  bool IsOpen() const { return line_.IsOpen(); }

  const std::string& DevicePath() const { return devicePath_; }
  // Why the port did not open, for the operator: the path and the reason, with the device
  // node's owner, group and mode (and the group to join) when permission was denied.
  std::string OpenProblem() const;

 private:
  LineError ConnectDevice(const std::string& path);
  LineError WaitFor(short events, int timeoutMs);
  bool Fail(LineError error);

  Timing timing_;
  std::string portDir_;
  std::string devicePath_;
  SerialTerminal line_;
  LineError lastError_ = LineError::None;
};

}  // namespace mirk3
