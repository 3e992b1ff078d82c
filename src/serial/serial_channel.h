// The jig's status line: opened once, then kept open while the station runs; it writes short
// frames and picks up the jig's replies from whatever has already arrived; a caller that
// looks again may first wait, for a bounded time, until more arrives. The device is named by its path instead of a port number. It leaves DTR and RTS as
// the driver sets them while it is open; Disconnect drops DTR, purges and gives the line back
// as it was found.
#pragma once

#include <string>

#include "base/timing.h"
#include "serial/line_error.h"
#include "serial/line_setup.h"

namespace mirk3 {

class CSerialChannel {
 public:
  // `disconnectPause`: how long Disconnect lets the jig finish its last answer.
  explicit CSerialChannel(Millis disconnectPause = Timing{}.jigDisconnectPause)
      : disconnectPause_(disconnectPause) {}
  ~CSerialChannel() { ReleaseHandles(); }
  CSerialChannel(const CSerialChannel&) = delete;
  CSerialChannel& operator=(const CSerialChannel&) = delete;

  // Back to the fresh state: closed (without the pause), no device.
  void Reset();
  bool IsConnected() const { return line_.IsOpen(); }
  // Opens and configures the device at 8-N-1; true at once when already connected (to any
  // device: a later path has no effect while the line is open).
  bool Connect(const std::string& devicePath, int baudRate);
  // The bytes written; `completedAtOnce` (when given) is 1 when the device took them all
  // without a wait.
  int Transmit(const void* buffer, int length, int* completedAtOnce = nullptr);
  // What has already arrived, at most `maxLength` bytes; 0 when nothing has.
  int Receive(void* buffer, int maxLength);
  // Returns as soon as bytes wait to be received, the line has failed, or `limit` has passed.
  void WaitForInput(Millis limit);
  // Pauses, then closes the line; harmless when not connected.
  void Disconnect();
  // Closes what is still open without the pause (the owner's last word).
  void ReleaseHandles();

  const std::string& DevicePath() const { return devicePath_; }
  LineError LastError() const { return lastError_; }
  // The errno behind a failed open, 0 when none.
  int LastErrorNumber() const { return line_.ErrorNumber(); }

 private:
  Millis disconnectPause_;
  SerialTerminal line_;
  std::string devicePath_;
  LineError lastError_ = LineError::None;
};

}  // namespace mirk3
