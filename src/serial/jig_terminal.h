// What the two jig line classes share: opening a serial device for their exclusive use with a
// given line setting, giving it up again, and writing with a time limit.
//
// A jig is named by its device path: a USB serial adapter (<port dir>/ttyUSB<n>) or any serial
// device, a stable /dev/serial/by-id/ name included. Where a port number has to be turned into
// one of two device names (a plain one for small numbers, a device-namespace one above), a path
// is already the one name of the device, and the same for both lines.
#pragma once

#include <cstdint>
#include <string>

#include "serial/line_error.h"

namespace mirk3 {

// Parity codes of a line setting, as the settings files name them.
inline constexpr int PARITY_NONE = 0;
inline constexpr int PARITY_ODD = 1;
inline constexpr int PARITY_EVEN = 2;
// Stop-bits codes: one, one and a half (taken as two here), two.
inline constexpr int STOP_BITS_ONE = 0;
inline constexpr int STOP_BITS_TWO = 2;

struct LineSetting {
  int baudRate = 115200;
  int byteSize = 8;  // 5..8
  int parity = PARITY_NONE;
  int stopBits = STOP_BITS_ONE;
};

struct OpenedTerminal {
  int fd = -1;  // non-blocking; -1 when the open failed
  LineError error = LineError::None;
};

// Opens `path` raw, exclusive (lock and exclusive mode), without modem control, DTR dropped,
// both queues purged. A failed open leaves nothing open behind.
OpenedTerminal OpenJigTerminal(const std::string& path, const LineSetting& setting);

// Purges both queues, drops DTR, lifts the exclusive mode (so that the next opener, maybe this
// station a moment later, is not refused by a terminal that another holder keeps alive) and
// closes.
void ReleaseJigTerminal(int fd);

// Writes up to `length` bytes, waiting while the device takes them, for at most `limitMs`
// (no limit when negative). Returns the bytes written; *error tells why it stopped short.
int WriteWithLimit(int fd, const uint8_t* bytes, int length, int limitMs, LineError* error);

}  // namespace mirk3
