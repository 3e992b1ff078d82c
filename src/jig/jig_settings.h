// Where the jig is and which phone sits at each of its eight positions, from the [D300Jig]
// keys of the station's settings: D300COM=n names a USB serial adapter, <port dir>/ttyUSB<n>
// (0 or missing: no jig, so ttyUSB0 is named with Device); Device=PATH names any serial device
// and wins over D300COM; MicroCable picks the set-up for a micro-USB cable; Position1 ..
// Position8 give the download port at each position, as a port number (7 is ttyACM7) or as the
// physical USB path of the socket (1-1.3), as reserved slots are given.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "jig/frames.h"

namespace mirk3 {

// One position of the jig: nothing, a port number, or a physical USB path.
struct JigPosition {
  int port = -1;
  std::string usbPath;
};

struct JigSettings {
  std::string device;  // the jig's serial device; empty: no jig
  int microCable = 0;
  std::array<JigPosition, JIG_POSITIONS> positions;
};

// Reads the settings through `d300JigValue` (the value of a [D300Jig] key, "" when missing).
JigSettings ResolveJigSettings(
    const std::function<std::string(const std::string& key)>& d300JigValue,
    const std::string& portDir);

// The index 0..7 of the position that holds the phone on `port` (or at `usbPath`, when not
// empty), the first one when several do; -1 when none does. A phone at no position causes no
// jig event: any position the event went to would be another phone's.
int JigPositionOf(const JigSettings& settings, int port, const std::string& usbPath);

}  // namespace mirk3
