#include "ports/slot_reservations.h"

#include <optional>

#include "ports/usb_identity.h"
#include "serial/serial_line.h"

namespace mirk3 {
namespace {

// What two reservations both keep, if anything.
std::optional<std::string> SamePort(const SlotReservation& a, const SlotReservation& b,
                                    const std::string& sysfsRoot) {
  if (a.port >= 0 && a.port == b.port) return PortName(a.port);
  if (!a.usbPath.empty() && a.usbPath == b.usbPath) return "USB path " + a.usbPath;
  const SlotReservation& byNumber = a.port >= 0 ? a : b;
  const SlotReservation& byPath = a.port >= 0 ? b : a;
  if (byNumber.port < 0 || byPath.usbPath.empty()) return std::nullopt;
  if (ReadUsbIdentity(byNumber.port, sysfsRoot).path != byPath.usbPath) return std::nullopt;
  return PortName(byNumber.port) + " at USB path " + byPath.usbPath;
}

}  // namespace

std::vector<ReservationClash> FindReservationClashes(
    const std::map<int, SlotReservation>& slots, const std::string& sysfsRoot) {
  std::vector<ReservationClash> clashes;
  for (auto later = slots.begin(); later != slots.end(); ++later) {
    for (auto earlier = slots.begin(); earlier != later; ++earlier) {
      const auto port = SamePort(earlier->second, later->second, sysfsRoot);
      if (!port) continue;
      clashes.push_back({later->first, earlier->first, *port});
      break;  // one line per slot that cannot hold
    }
  }
  return clashes;
}

}  // namespace mirk3
