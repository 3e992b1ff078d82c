// Where the jig is and which phone sits at each position, from the [D300Jig] keys.
#include "jig/jig_settings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace mirk3 {
namespace {

using Keys = std::map<std::string, std::string>;

JigSettings Resolve(const Keys& keys) {
  return ResolveJigSettings(
      [&keys](const std::string& key) {
        const auto found = keys.find(key);
        return found == keys.end() ? std::string() : found->second;
      },
      "/ports");
}

TEST(JigSettings, TheJigDeviceAndCable) {
  struct Case {
    Keys keys;
    std::string device;
    int cable;
  };
  const std::vector<Case> cases = {
      {{}, "", 0},
      {{{"D300COM", "0"}, {"MicroCable", "1"}}, "", 1},
      {{{"D300COM", "3"}}, "/ports/ttyUSB3", 0},
      {{{"D300COM", "12 ; the adapter"}, {"MicroCable", "2x"}}, "/ports/ttyUSB12", 2},
      {{{"D300COM", "-1"}}, "", 0},
      {{{"D300COM", "abc"}}, "", 0},
      // A named device wins over the adapter number.
      {{{"D300COM", "3"}, {"Device", "/dev/serial/by-id/jig"}}, "/dev/serial/by-id/jig", 0},
      {{{"Device", "/dev/ttyUSB0"}}, "/dev/ttyUSB0", 0},
  };
  for (const Case& c : cases) {
    const JigSettings s = Resolve(c.keys);
    EXPECT_EQ(s.device, c.device) << (c.keys.empty() ? "" : c.keys.begin()->second);
    EXPECT_EQ(s.microCable, c.cable);
  }
}

TEST(JigSettings, PositionsByPortOrUsbPath) {
  const JigSettings s = Resolve({{"Position1", "7"},
                                 {"Position2", "1-1.3"},
                                 {"Position4", " 12 "},
                                 {"Position8", "0"},
                                 {"Position9", "5"}});
  struct Case {
    int port;
    std::string usbPath;
    int position;
  };
  const std::vector<Case> cases = {
      {7, "", 0},       {9, "1-1.3", 1}, {12, "2-4", 3},
      {0, "", 7},       {5, "", -1},  // only eight positions
      {3, "", -1},                    // at no position: no event at all
      {3, "1-1.4", -1},               // a neighbouring socket is another place
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JigPositionOf(s, c.port, c.usbPath), c.position) << c.port << " " << c.usbPath;
  }
  // Positions left empty match no phone, not even one without a USB path.
  EXPECT_EQ(JigPositionOf(Resolve({}), -1, ""), -1);
}

}  // namespace
}  // namespace mirk3
