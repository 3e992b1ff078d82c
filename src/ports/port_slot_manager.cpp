#include "ports/port_slot_manager.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "base/text.h"
#include "ports/port_dir.h"
#include "serial/serial_line.h"

namespace mirk3 {

CPortSlotManager::CPortSlotManager(PortChanged changed, PortMessage message)
    : changed_(std::move(changed)),
      message_(std::move(message)),
      slotPorts_(SLOT_TABLE_SIZE, -1),
      slotTotals_(SLOT_TABLE_SIZE, 0) {}

CPortSlotManager::~CPortSlotManager() = default;

void CPortSlotManager::SetRules(PortRules rules) { rules_ = std::move(rules); }

std::string CPortSlotManager::PortDir() const {
  return rules_.portDir.empty() ? DefaultPortDir() : rules_.portDir;
}

int CPortSlotManager::FindReservedSlot(int port) const {
  const std::string& path = IdentityOfPort(port).path;
  for (const auto& [slot, reservation] : rules_.slots) {
    if (reservation.port == port) return slot;
    if (!reservation.usbPath.empty() && reservation.usbPath == path) return slot;
  }
  return -1;
}

// A reserved slot is kept free for its own port, so that a phone on an unlabelled cable never
// pushes a labelled one out of its slot.
bool CPortSlotManager::KeptForAnother(int slot, int port) const {
  const auto it = rules_.slots.find(slot);
  if (it == rules_.slots.end()) return false;
  return FindReservedSlot(port) != slot;
}

int CPortSlotManager::PlacePort(int port) {
  if (port < 0) return -1;
  const auto held = std::find(slotPorts_.begin(), slotPorts_.end(), port);
  if (held != slotPorts_.end()) return static_cast<int>(held - slotPorts_.begin());
  identities_[port] = ReadUsbIdentity(port, rules_.sysfsRoot.empty() ? SysfsRoot() : rules_.sysfsRoot);
  const int reserved = FindReservedSlot(port);
  if (reserved >= 0) {
    if (slotPorts_[reserved] != -1) {
      if (message_) {
        message_(Format("Slot %d is for %s. But it's busy. Check it!!", reserved,
                        PortName(port).c_str()));
      }
      return -1;
    }
    if (Closed(reserved)) {
      if (waiting_.insert(port).second) Tell(PortChange::Waiting, port);
      return -1;
    }
    TakeSlot(reserved, port);
    return reserved;
  }
  // Only the slots the window can show are given out.
  for (int slot = 0; slot < DISPLAYED_SLOTS; ++slot) {
    if (slotPorts_[slot] == -1 && !KeptForAnother(slot, port) && !Closed(slot)) {
      TakeSlot(slot, port);
      return slot;
    }
  }
  // Every slot is taken: the port is placed when one is freed, and said once until then.
  if (waiting_.insert(port).second) Tell(PortChange::Waiting, port);
  return -1;
}

void CPortSlotManager::TakeSlot(int slot, int port) {
  slotPorts_[slot] = port;
  portToSlot_[port] = slot;
  waiting_.erase(port);
  Tell(PortChange::Added, port);
}

void CPortSlotManager::RemovePort(int port) {
  waiting_.erase(port);
  const auto it = portToSlot_.find(port);
  if (it == portToSlot_.end() || slotPorts_[it->second] != port) return;
  slotPorts_[it->second] = -1;
  Tell(PortChange::Removed, port);
}

void CPortSlotManager::PlaceWaitingPorts() {
  std::vector<int> present;
  if (!ListPortDir(PortDir(), &present)) return;
  const std::set<int> waiting = waiting_;
  for (int port : waiting) {
    if (std::binary_search(present.begin(), present.end(), port)) {
      PlacePort(port);
    } else {
      waiting_.erase(port);
    }
  }
}

bool CPortSlotManager::ScanTakes(int port) const {
  if (!rules_.usbVendorId) return true;
  const UsbIdentity identity =
      ReadUsbIdentity(port, rules_.sysfsRoot.empty() ? SysfsRoot() : rules_.sysfsRoot);
  return identity.vendor == rules_.usbVendorId;
}

int CPortSlotManager::ScanPorts(int repeatSeconds) {
  (void)repeatSeconds;  // every caller makes one pass
  std::vector<int> ports;
  if (!ListPortDir(PortDir(), &ports)) return -1;
  int added = 0;
  bool refused = false;
  for (int port : ports) {
    if (!ScanTakes(port) || PortOfSlot(SlotOfPort(port)) == port) continue;
    const int slot = PlacePort(port);
    if (slot >= 0) {
      ++added;
    } else if (FindReservedSlot(port) >= 0) {
      refused = true;
    }
  }
  return refused ? -1 : added;
}

int CPortSlotManager::OnPortEvent(int event, const std::string& name, int slot) {
  (void)slot;  // every caller asks for any free slot
  const int port = PortNumberOfName(name);
  if (port < 0) return -1;
  if (event == DEVICE_ARRIVAL) {
    const bool placed = PortOfSlot(SlotOfPort(port)) == port;
    return placed || PlacePort(port) >= 0 ? 0 : -1;
  }
  if (event == DEVICE_REMOVE_COMPLETE) RemovePort(port);
  return 0;
}

UsbIdentity CPortSlotManager::IdentityOfPort(int port) const {
  const auto it = identities_.find(port);
  return it == identities_.end() ? UsbIdentity{} : it->second;
}

int CPortSlotManager::SlotOfPort(int port) const {
  const auto it = portToSlot_.find(port);
  return it == portToSlot_.end() ? -1 : it->second;
}

int CPortSlotManager::PortOfSlot(int slot) const {
  return slot >= 0 && slot < SLOT_TABLE_SIZE ? slotPorts_[slot] : -1;
}

uint64_t CPortSlotManager::SlotTotal(int slot) const {
  return slot < 0 || slot >= SLOT_TABLE_SIZE ? 0 : slotTotals_[slot];
}

uint64_t CPortSlotManager::SlotTotal(int slot, uint64_t value) {
  if (slot < 0 || slot >= SLOT_TABLE_SIZE) return 0;
  if (value != 0) slotTotals_[slot] = value;
  return slotTotals_[slot];
}

int CPortSlotManager::CountOccupiedSlots() const {
  return static_cast<int>(
      std::count_if(slotPorts_.begin(), slotPorts_.end(), [](int port) { return port != -1; }));
}

std::vector<int> CPortSlotManager::PlacedPorts() const {
  std::vector<int> ports;
  std::copy_if(slotPorts_.begin(), slotPorts_.end(), std::back_inserter(ports),
               [](int port) { return port != -1; });
  return ports;
}

std::vector<int> CPortSlotManager::MissingPorts() const {
  std::vector<int> missing;
  for (int port : PlacedPorts()) {
    // The entry itself, not what it leads to: a link left by a phone that went is still there.
    struct stat st {};
    const std::string path = PortDir() + "/" + PortName(port);
    if (::lstat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
      missing.push_back(port);
    }
  }
  return missing;
}

void CPortSlotManager::ReserveSlot(int slot, int port) {
  if (slot >= 0 && slot < DISPLAYED_SLOTS) rules_.slots[slot] = SlotReservation{port, ""};
}

void CPortSlotManager::CloseSlot(int slot, bool closed) {
  if (closed) {
    closed_.insert(slot);
  } else {
    closed_.erase(slot);
  }
}

void CPortSlotManager::FreeAllSlots() {
  std::fill(slotPorts_.begin(), slotPorts_.end(), -1);
  std::fill(slotTotals_.begin(), slotTotals_.end(), 0);
}

}  // namespace mirk3
