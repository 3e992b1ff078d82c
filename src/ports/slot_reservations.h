// Slot reservations that cannot all hold. A port can wait in one slot only: kept for two slots
// (by its number twice, by its USB path twice, or by its number in one slot and by the USB
// path it hangs on in another), the second slot would wait for it for ever.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "settings/settings.h"

namespace mirk3 {

struct ReservationClash {
  int slot;          // the later of the two slots
  int otherSlot;     // the slot that keeps the same port already
  std::string port;  // what both keep: "ttyACM1", "USB path 1-1.3", "ttyACM3 at USB path 1-1.3"
};

// Every clash, slot by slot. A port number and a USB path are told to be one port through
// sysfs (under `sysfsRoot`), so only while that phone is plugged in.
std::vector<ReservationClash> FindReservationClashes(
    const std::map<int, SlotReservation>& slots, const std::string& sysfsRoot);

}  // namespace mirk3
