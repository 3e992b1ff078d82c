// What the packet layer needs of a line to a boot loader: whole writes, exact reads, a way to
// give the line up, and why the last call failed. The engine's serial line is one; a test can
// speak through the same pseudo-terminals without an engine around it.
#pragma once

#include <functional>

#include "serial/line_error.h"

namespace mirk3 {

class ByteLine {
 public:
  virtual ~ByteLine() = default;
  // Writes the whole buffer.
  virtual bool WriteData(const void* buffer, int length) = 0;
  // WriteData that, whenever the device cannot take more bytes yet, first runs `whileBlocked`
  // (which returns false when it has nothing left to do) before it waits for the line.
  virtual bool WriteWhileWaiting(const void* buffer, int length,
                                 const std::function<bool()>& whileBlocked) = 0;
  // Waits for data, then reads exactly `length` bytes.
  virtual bool ReadData(void* buffer, int length) = 0;
  // False when the line was not open.
  virtual bool ClosePort() = 0;
  // Why the last failed call failed; None after a call that succeeded. A call on a line that
  // an earlier failure closed keeps that failure's kind.
  virtual LineError LastError() const = 0;
};

}  // namespace mirk3
