// A port dir that goes away and comes back, watched with real inotify: deleted, moved away, or
// deleted with the dir above it, then made again. The watcher says it lost the dir, watches it
// again when it is back, and after that reports its entries as before; the slot table tells
// which placed ports the dir no longer has.
#include <gtest/gtest.h>
#include <poll.h>

#include <filesystem>
#include <memory>

#include "ports/port_dir.h"
#include "ports/port_slot_manager.h"
#include "support/pty_peer.h"
#include "support/succeeded.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

namespace fs = std::filesystem;
using Change = PortWatcher::Change;

// Events until one of kind `until` arrives (or a long while passes), in order.
std::vector<PortWatcher::Event> EventsUntil(PortWatcher& watcher, Change until) {
  std::vector<PortWatcher::Event> events;
  for (;;) {
    pollfd p{watcher.Fd(), POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) return events;
    for (const auto& event : watcher.ReadEvents()) {
      events.push_back(event);
      if (event.change == until) return events;
    }
  }
}

bool Has(const std::vector<PortWatcher::Event>& events, Change change) {
  for (const auto& e : events) {
    if (e.change == change) return true;
  }
  return false;
}

TEST(PortWatch, ADirThatGoesAndComesBackIsWatchedAgain) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& dir)> lose;
    const char* detail;
  } const cases[] = {
      {"deleted", [](const fs::path& d) { fs::remove_all(d); }, "deleted"},
      {"moved away", [](const fs::path& d) { fs::rename(d, d.parent_path() / "old"); },
       "moved away"},
      {"deleted with the dir above", [](const fs::path& d) { fs::remove_all(d.parent_path()); },
       "deleted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir root;
    const fs::path dir = root.Path() / "run" / "dev";
    fs::create_directories(dir);
    CPortSlotManager slots;
    PortRules rules;
    rules.portDir = dir.string();
    slots.SetRules(rules);
    PortWatcher watcher;
    ASSERT_TRUE(test::Succeeded(watcher.Start(dir.string())));
    auto phone = std::make_unique<test::PtyPeer>(dir.string(), 4);
    ASSERT_EQ(slots.ScanPorts(1), 1);
    EXPECT_TRUE(slots.MissingPorts().empty());

    c.lose(dir);
    const auto lost = EventsUntil(watcher, Change::WatchLost);
    ASSERT_TRUE(Has(lost, Change::WatchLost));
    EXPECT_EQ(lost.back().name, dir.string());
    EXPECT_EQ(lost.back().detail, c.detail);
    EXPECT_FALSE(watcher.Watching());
    EXPECT_EQ(slots.PlacedPorts(), std::vector<int>{4});
    EXPECT_EQ(slots.MissingPorts(), std::vector<int>{4}) << "the dir has it no more";

    // Made again, a level at a time as an operator or udev would.
    fs::create_directories(dir.parent_path());
    fs::create_directory(dir);
    const auto back = EventsUntil(watcher, Change::WatchBack);
    ASSERT_TRUE(Has(back, Change::WatchBack));
    EXPECT_FALSE(Has(back, Change::WatchFailed));
    EXPECT_TRUE(watcher.Watching());

    // Its entries are reported again; the old dir's (moved away with its phone) are not.
    phone.reset();
    test::PtyPeer newcomer(dir.string(), 9);
    const auto arrivals = EventsUntil(watcher, Change::Arrival);
    ASSERT_FALSE(arrivals.empty());
    EXPECT_EQ(arrivals.back().name, "ttyACM9");
    for (const auto& e : arrivals) EXPECT_NE(e.change, Change::Removal) << e.name;
  }
}

TEST(PortWatch, PhonePortsAreKnownByNameLinkOrDevice) {
  test::TempDir root;
  const fs::path dir = root.Path() / "dev";
  fs::create_directories(dir);
  test::PtyPeer phone(dir.string(), 3);
  test::PtyPeer jig(dir.string(), 8);
  fs::rename(dir / "ttyACM8", dir / "ttyUSB0");
  fs::create_symlink(dir / "ttyACM3", root.Path() / "by-path-link");
  EXPECT_EQ(PhonePortOfPath((dir / "ttyACM3").string(), dir.string()), 3);
  EXPECT_EQ(PhonePortOfPath((dir / "ttyACM7").string(), dir.string()), 7) << "absent, by name";
  EXPECT_EQ(PhonePortOfPath((root.Path() / "by-path-link").string(), dir.string()), 3);
  EXPECT_EQ(PhonePortOfPath(fs::canonical(phone.LinkPath()).string(), dir.string()), 3)
      << "the device itself";
  EXPECT_EQ(PhonePortOfPath((dir / "ttyUSB0").string(), dir.string()), -1);
  EXPECT_EQ(PhonePortOfPath("", dir.string()), -1);
}

}  // namespace
}  // namespace mirk3
