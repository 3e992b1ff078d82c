// The jig's set-up line: opened, sent a handful of short command frames, closed, all within
// one call. It only writes; nothing is ever read back from it. A write may take as long as its
// bytes need on the wire and twice that again (230400 / baud ms per byte: 2 ms at 115200),
// so a jig that stops taking bytes cannot hold the caller. The open drops DTR and RTS both;
// the close purges, drops DTR and gives the line back as it was found.
#pragma once

#include <string>

#include "serial/line_error.h"
#include "serial/line_setup.h"

namespace mirk3 {

class CComport {
 public:
  CComport() = default;
  virtual ~CComport();
  CComport(const CComport&) = delete;
  CComport& operator=(const CComport&) = delete;

  // Opens and configures the device; false (and nothing left open) when it cannot. The device
  // is named by its path instead of a port number.
  bool Open(const std::string& devicePath, int baudRate, int byteSize, int parity, int stopBits);
  // The bytes written; 0 when the port is not open, -1 when the write failed at once.
  int Send(const void* buffer, int length);
  // Harmless on a closed port.
  void Close();

  bool IsOpen() const { return line_.IsOpen(); }
  LineError LastError() const { return lastError_; }
  // The errno behind a failed open, 0 when none.
  int LastErrorNumber() const { return line_.ErrorNumber(); }
  const std::string& DevicePath() const { return devicePath_; }

  // Milliseconds a byte may take to be written at this baud rate.
  static int WriteMsPerByte(int baudRate) { return baudRate > 0 ? 230400 / baudRate : 0; }

 private:
  SerialTerminal line_;
  LineSetting setting_;
  std::string devicePath_;
  LineError lastError_ = LineError::None;
};

}  // namespace mirk3
