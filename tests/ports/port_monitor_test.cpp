// Phones found as they come and go: a real port dir with pseudo-terminals, watched with
// inotify, each arrival and removal handed to the slot table as the station does; a scan of
// the dir with the vendor rule; slots kept for a port number or a physical USB port read from
// a sysfs tree laid out as the kernel lays it out.
#include <gtest/gtest.h>
#include <poll.h>

#include <filesystem>
#include <memory>
#include <utility>

#include "ports/port_dir.h"
#include "ports/port_slot_manager.h"
#include "support/pty_peer.h"
#include "support/succeeded.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Writes the sysfs entries of a USB phone: the tty's device link to an interface of the USB
// device `usbPath` with its ids.
void AddUsbPhone(const std::string& root, int port, const std::string& usbPath,
                 const std::string& vendor, const std::string& product) {
  const fs::path device = fs::path(root) / "devices/pci0000:00/usb1" / usbPath;
  fs::create_directories(device / (usbPath + ":1.0"));
  test::WriteFile(device / "idVendor", vendor + "\n");
  test::WriteFile(device / "idProduct", product + "\n");
  const fs::path tty = fs::path(root) / "class/tty" / ("ttyACM" + std::to_string(port));
  fs::create_directories(tty);
  fs::create_symlink(device / (usbPath + ":1.0"), tty / "device");
}

class PortMonitor : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(portDir);
    PortRules rules;
    rules.portDir = portDir;
    rules.sysfsRoot = sysfs;
    slots.SetRules(rules);
    ASSERT_TRUE(test::Succeeded(watcher.Start(portDir)));
  }

  void Plug(int port) { phones[port] = std::make_unique<test::PtyPeer>(portDir, port); }
  void Unplug(int port) { phones.erase(port); }

  // Hands `count` events to the slot table as they come (or fewer, if nothing more comes for a
  // long while); returns the status reports made as "<port> <text>".
  Lines Watch(size_t count) {
    Lines out;
    for (size_t handled = 0; handled < count;) {
      pollfd p{watcher.Fd(), POLLIN, 0};
      if (::poll(&p, 1, 20000) <= 0) break;
      for (const auto& event : watcher.ReadEvents()) {
        ++handled;
        slots.OnPortEvent(event.change == PortWatcher::Change::Arrival ? DEVICE_ARRIVAL
                                                                        : DEVICE_REMOVE_COMPLETE,
                          event.name);
      }
      for (const std::string& line : std::exchange(told, {})) out.push_back(line);
    }
    return out;
  }

  test::TempDir dir;
  std::string portDir = dir / "dev";
  std::string sysfs = dir / "sys";
  Lines told;  // "<port> Added!!" or "<port> Removed!!"
  Lines messages;
  CPortSlotManager slots{
      [this](PortChange change, int port) {
        if (change == PortChange::Waiting) return;
        told.push_back(std::to_string(port) + (change == PortChange::Added ? " Added!!" : " Removed!!"));
      },
      [this](const std::string& m) { messages.push_back(m); }};
  PortWatcher watcher;
  std::map<int, std::unique_ptr<test::PtyPeer>> phones;
};

TEST_F(PortMonitor, ArrivalsAndRemovalsAsPhonesComeAndGo) {
  Plug(3);
  Plug(12);
  EXPECT_EQ(Watch(2), (Lines{"3 Added!!", "12 Added!!"}));
  // Entries that are not ttyACM<n> are never looked at.
  test::WriteFile(portDir + "/ttyS0", "");
  test::WriteFile(portDir + "/ttyACM", "");
  test::WriteFile(portDir + "/ttyACM1x", "");
  Unplug(3);
  EXPECT_EQ(Watch(1), Lines{"3 Removed!!"});
  Plug(5);
  Plug(3);
  EXPECT_EQ(Watch(2), (Lines{"5 Added!!", "3 Added!!"}));
  EXPECT_EQ(slots.SlotOfPort(5), 0) << "the first free slot";
  EXPECT_EQ(slots.SlotOfPort(3), 2) << "not its old one";
  // An arrival of a placed port changes nothing and says nothing.
  EXPECT_EQ(slots.OnPortEvent(DEVICE_ARRIVAL, "ttyACM12"), 0);
  EXPECT_EQ(slots.OnPortEvent(DEVICE_ARRIVAL, "ttyACM"), -1);
  EXPECT_TRUE(told.empty());
  EXPECT_EQ(slots.CountOccupiedSlots(), 3);
}

TEST_F(PortMonitor, SixtyArrivalsFillTheFiftySixSlots) {
  for (int port = 0; port < 60; ++port) Plug(port);
  EXPECT_EQ(Watch(60).size(), 56u);
  EXPECT_EQ(slots.CountOccupiedSlots(), DISPLAYED_SLOTS);
  for (int port = 56; port < 60; ++port) EXPECT_EQ(slots.SlotOfPort(port), -1) << port;
  EXPECT_EQ(slots.ScanPorts(1), 0) << "a scan finds no slot for them either";
}

TEST_F(PortMonitor, TheScanTakesOnlyTheConfiguredVendor) {
  for (int port : {0, 1, 2}) Plug(port);
  AddUsbPhone(sysfs, 0, "1-1.1", "04e8", "685d");
  AddUsbPhone(sysfs, 1, "1-1.2", "1234", "0001");
  PortRules rules = slots.Rules();
  rules.usbVendorId = 0x04e8;
  slots.SetRules(rules);
  EXPECT_EQ(slots.ScanPorts(1), 1);
  EXPECT_EQ(slots.PortOfSlot(0), 0);
  EXPECT_EQ(slots.IdentityOfPort(0).path, "1-1.1");
  EXPECT_EQ(UsbIdText(slots.IdentityOfPort(0)), "04e8:685d");
  // Arrivals take any ttyACM<n>, whatever its vendor; a pseudo-terminal has no USB identity.
  EXPECT_EQ(slots.OnPortEvent(DEVICE_ARRIVAL, "ttyACM2"), 0);
  EXPECT_EQ(slots.IdentityOfPort(2).path, "");

  rules.portDir = dir / "absent";
  slots.SetRules(rules);
  EXPECT_EQ(slots.ScanPorts(1), -1);
}

// [Slots] 2=9 and 5=1-1.3: port 9 always lands in slot 2, and whichever port hangs on USB
// port 1-1.3 lands in slot 5; other ports pass those slots by.
TEST_F(PortMonitor, SlotsKeptForAPortNumberAndForAPhysicalUsbPort) {
  PortRules rules = slots.Rules();
  rules.slots[2] = SlotReservation{9, ""};
  rules.slots[5] = SlotReservation{-1, "1-1.3"};
  slots.SetRules(rules);
  AddUsbPhone(sysfs, 17, "1-1.3", "04e8", "685d");
  for (int port : {0, 1, 2, 3}) Plug(port);
  Plug(17);
  Plug(9);
  Watch(6);
  EXPECT_EQ(slots.SlotOfPort(17), 5);
  EXPECT_EQ(slots.SlotOfPort(9), 2);
  EXPECT_EQ(slots.SlotOfPort(3), 4);

  // The same USB port under another number: slot 5 is still held by the old one.
  Unplug(17);
  Watch(1);
  AddUsbPhone(sysfs, 21, "1-1.3", "04e8", "685d");
  Plug(21);
  EXPECT_EQ(Watch(1), Lines{"21 Added!!"});
  EXPECT_EQ(slots.SlotOfPort(21), 5);
  EXPECT_TRUE(messages.empty());

  // A reserved slot taken by another port: the operator is told, the port gets no slot.
  rules = slots.Rules();
  rules.slots[0] = SlotReservation{30, ""};
  slots.SetRules(rules);
  Plug(30);
  Watch(1);
  EXPECT_EQ(slots.SlotOfPort(30), -1);
  EXPECT_EQ(messages, Lines{"Slot 0 is for ttyACM30. But it's busy. Check it!!"});
  EXPECT_EQ(slots.ScanPorts(1), -1);
}

}  // namespace
}  // namespace mirk3
