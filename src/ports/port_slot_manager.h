// The station's ports and slots: which port sits in which of the window's slots and the byte
// total of each slot's running download. Ports come from a scan of the port dir and from
// arrivals and removals there; a slot can be kept for one port or one physical USB port. Every
// operation runs on the station's main thread; placements, removals and ports left without a
// free slot are told to the owner. The runs themselves belong to the station, not here.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <set>

#include "ports/usb_identity.h"
#include "settings/settings.h"

namespace mirk3 {

inline constexpr int SLOT_TABLE_SIZE = 100;
inline constexpr int DISPLAYED_SLOTS = 56;  // 8 large and 48 small slots in the window

// The device-change events of the port dir, by the numbers they always had.
inline constexpr int DEVICE_ARRIVAL = 0x8000;
inline constexpr int DEVICE_REMOVE_COMPLETE = 0x8004;

// Where ports are found and which ones the scan takes.
struct PortRules {
  std::string portDir;                    // empty: DefaultPortDir()
  std::string sysfsRoot;                  // empty: SysfsRoot()
  std::optional<uint16_t> usbVendorId;    // the scan takes only this vendor's devices
  std::map<int, SlotReservation> slots;   // slot -> the port or USB path it is kept for
};

// What happened to a port in the table: it took a slot ("Added!!"), left its slot
// ("Removed!!"), or found no free slot (told once until it gets one or leaves).
enum class PortChange { Added, Removed, Waiting };
using PortChanged = std::function<void(PortChange change, int port)>;

// An operator message (a message box in the window).
using PortMessage = std::function<void(const std::string&)>;

class CPortSlotManager {
 public:
  explicit CPortSlotManager(PortChanged changed = {}, PortMessage message = {});
  ~CPortSlotManager();

  void SetRules(PortRules rules);
  const PortRules& Rules() const { return rules_; }
  std::string PortDir() const;

  // Gives the port the first free slot not kept for another port, or its reserved slot (tells
  // Added). Returns the slot, the slot it already holds (nothing told), or -1 when no slot is
  // free (the port waits: told once) or its reserved slot is busy (the operator is told).
  int PlacePort(int port);
  // Frees the port's slot (tells Removed); a port that never had a slot changes nothing. A
  // waiting port stops waiting.
  void RemovePort(int port);
  // Places the ports that waited for a free slot and are still in the port dir, in port order.
  void PlaceWaitingPorts();
  bool Waiting(int port) const { return waiting_.count(port) != 0; }
  // Places every ttyACM<n> of the port dir the scan's rule takes, in port order. Returns the
  // number of ports added, or -1 when the dir cannot be read or a reserved slot was busy (the
  // other ports are still placed).
  int ScanPorts(int repeatSeconds = 1);
  // An arrival or removal of the entry `name` in the port dir; `slot` is -1 (any free slot).
  // Returns 0 when done or nothing is to be done, -1 when refused.
  int OnPortEvent(int event, const std::string& name, int slot = -1);
  // The reserved slot of a port, by its number or its USB path; -1 when none.
  int FindReservedSlot(int port) const;
  // The USB identity the port had when it was placed (empty for a pseudo-terminal).
  UsbIdentity IdentityOfPort(int port) const;

  int SlotOfPort(int port) const;  // -1 for a port that was never placed
  int PortOfSlot(int slot) const;  // -1 for a free slot
  // The system's total of a slot: a non-zero `value` sets it; the total is returned.
  uint64_t SlotTotal(int slot, uint64_t value);
  // The total of a slot, only read.
  uint64_t SlotTotal(int slot) const;
  int CountOccupiedSlots() const;
  // The ports in slots, in slot order.
  std::vector<int> PlacedPorts() const;
  // The placed ports whose ttyACM<n> entry is no longer in the port dir (all of them when the
  // dir itself is gone): what a resync after lost events removes.
  std::vector<int> MissingPorts() const;
  // A closed slot (quarantined: its cable or hub fails too often) is given to no port until it
  // is opened again; a port it holds stays until it leaves.
  void CloseSlot(int slot, bool closed);
  bool Closed(int slot) const { return closed_.count(slot) != 0; }
  // Keeps `slot` for `port` (a port number reservation, as [Slots] N=port gives).
  void ReserveSlot(int slot, int port);

  // After a run: every slot and total freed (ports keep their last slot in SlotOfPort).
  void FreeAllSlots();

 private:
  void TakeSlot(int slot, int port);
  bool KeptForAnother(int slot, int port) const;
  bool ScanTakes(int port) const;

  void Tell(PortChange change, int port) {
    if (changed_) changed_(change, port);
  }

  PortChanged changed_;
  PortMessage message_;
  PortRules rules_;
  std::map<int, UsbIdentity> identities_;  // of placed ports
  std::vector<int> slotPorts_;
  std::map<int, int> portToSlot_;
  std::vector<uint64_t> slotTotals_;
  std::set<int> waiting_;  // ports told Waiting, not placed since
  std::set<int> closed_;   // quarantined slots
};

}  // namespace mirk3
