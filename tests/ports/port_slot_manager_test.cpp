// The port and slot table: ports take the first free slot of the window's 56, a reserved slot
// waits for its port, removal frees only the slot the port still holds, every placement and
// removal is told, and after a run every slot and total is freed.
#include "ports/port_slot_manager.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "support/temp_dir.h"

namespace mirk3 {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

class PortSlots : public ::testing::Test {
 protected:
  // The changes told since the last call, as "<port> <text>|<status code>".
  Lines Reported() { return std::exchange(told, {}); }

  Lines told;
  CPortSlotManager slots{[this](PortChange change, int port) {
    const char* text = change == PortChange::Added     ? "Added!!|100"
                       : change == PortChange::Removed ? "Removed!!|101"
                                                       : "waits";
    told.push_back(std::to_string(port) + " " + text);
  }};
};

TEST_F(PortSlots, PortsTakeTheFirstFreeSlotAndKeepIt) {
  EXPECT_EQ(slots.PlacePort(7), 0);
  EXPECT_EQ(slots.PlacePort(3), 1);
  EXPECT_EQ(slots.PlacePort(12), 2);
  EXPECT_EQ(Reported(), (Lines{"7 Added!!|100", "3 Added!!|100", "12 Added!!|100"}));

  slots.RemovePort(7);
  EXPECT_EQ(Reported(), Lines{"7 Removed!!|101"});
  EXPECT_EQ(slots.PortOfSlot(0), -1);
  EXPECT_EQ(slots.CountOccupiedSlots(), 2);
  // With slot 0 free, port 3 stays in slot 1: a placed port is never moved, nor reported again.
  EXPECT_EQ(slots.PlacePort(3), 1);
  EXPECT_TRUE(Reported().empty());

  // The next new port takes the freed slot; the removed port comes back to the first free
  // slot, not to its old one.
  EXPECT_EQ(slots.PlacePort(9), 0);
  EXPECT_EQ(slots.PlacePort(7), 3);
  EXPECT_EQ(Reported(), (Lines{"9 Added!!|100", "7 Added!!|100"}));
  EXPECT_EQ(slots.SlotOfPort(7), 3);
  EXPECT_EQ(slots.CountOccupiedSlots(), 4);
}

TEST_F(PortSlots, RemovalFreesOnlyTheSlotThePortStillHolds) {
  slots.RemovePort(5);
  EXPECT_TRUE(Reported().empty()) << "a port that never had a slot";

  EXPECT_EQ(slots.PlacePort(4), 0);
  slots.RemovePort(4);
  EXPECT_EQ(Reported(), (Lines{"4 Added!!|100", "4 Removed!!|101"}));
  EXPECT_EQ(slots.PortOfSlot(0), -1);
  EXPECT_EQ(slots.SlotOfPort(4), 0) << "the port's last slot is remembered";

  // Port 4 is remembered in slot 0, which port 8 now holds: removing 4 again leaves 8 alone.
  EXPECT_EQ(slots.PlacePort(8), 0);
  slots.RemovePort(4);
  EXPECT_EQ(slots.PortOfSlot(0), 8);
  slots.RemovePort(8);
  slots.RemovePort(8);
  EXPECT_EQ(Reported(), (Lines{"8 Added!!|100", "8 Removed!!|101"}));
  EXPECT_EQ(slots.CountOccupiedSlots(), 0);
}

TEST_F(PortSlots, SlotsRunOutAfterTheWindowsFiftySix) {
  for (int slot = 0; slot < DISPLAYED_SLOTS; ++slot) ASSERT_EQ(slots.PlacePort(100 + slot), slot);
  EXPECT_EQ(Reported().size(), static_cast<size_t>(DISPLAYED_SLOTS));

  // One port too many waits for a free slot, said once however often it is tried.
  EXPECT_EQ(slots.PlacePort(200), -1);
  EXPECT_EQ(slots.PlacePort(200), -1);
  EXPECT_EQ(Reported(), Lines{"200 waits"});
  EXPECT_TRUE(slots.Waiting(200));
  EXPECT_EQ(slots.SlotOfPort(200), -1);
  EXPECT_EQ(slots.PortOfSlot(DISPLAYED_SLOTS), -1);
  EXPECT_EQ(slots.CountOccupiedSlots(), DISPLAYED_SLOTS);

  slots.RemovePort(130);
  EXPECT_EQ(slots.PlacePort(200), 30);
  EXPECT_FALSE(slots.Waiting(200));
}

TEST_F(PortSlots, AReservedSlotWaitsForItsPort) {
  slots.ReserveSlot(1, 30);
  EXPECT_EQ(slots.PlacePort(10), 0);
  EXPECT_EQ(slots.PlacePort(11), 2) << "slot 1 is kept for port 30";
  EXPECT_EQ(slots.PlacePort(30), 1);

  // A port whose reserved slot is busy gets no slot at all, not another one.
  slots.ReserveSlot(0, 40);
  EXPECT_EQ(slots.PlacePort(40), -1);
  EXPECT_EQ(Reported(), (Lines{"10 Added!!|100", "11 Added!!|100", "30 Added!!|100"}));
  slots.RemovePort(10);
  EXPECT_EQ(slots.PlacePort(40), 0);
}

// A quarantined slot is given to no port, not even the one it is kept for, until it is opened
// again; the port kept for it waits and is placed then.
TEST_F(PortSlots, AClosedSlotIsPassedOverUntilOpened) {
  slots.CloseSlot(0, true);
  slots.ReserveSlot(2, 40);
  slots.CloseSlot(2, true);
  EXPECT_EQ(slots.PlacePort(7), 1);
  EXPECT_EQ(slots.PlacePort(40), -1);
  EXPECT_TRUE(slots.Waiting(40));
  slots.CloseSlot(0, false);
  EXPECT_EQ(slots.PlacePort(8), 0);
  slots.CloseSlot(2, false);
  EXPECT_EQ(slots.PlacePort(40), 2);
}

// The totals and the slots are freed together after a run; a port keeps its last slot in the
// map, and a freed slot is given out again.
TEST_F(PortSlots, FreeingAfterARunClearsSlotsAndTotals) {
  for (int port : {1, 8, 2}) slots.PlacePort(port);
  EXPECT_EQ(slots.SlotTotal(2, 5000000000), 5000000000u);
  EXPECT_EQ(slots.SlotTotal(2, 0), 5000000000u) << "a zero value only reads";
  slots.FreeAllSlots();
  EXPECT_EQ(slots.CountOccupiedSlots(), 0);
  EXPECT_EQ(slots.SlotTotal(2), 0u);
  EXPECT_EQ(slots.SlotOfPort(8), 1);
  EXPECT_EQ(slots.PlacePort(2), 0);
}

}  // namespace
}  // namespace mirk3
