// The live terminal picture of a run: exact frames for a few ports, frames that fit the
// terminal for any number of ports with every failure shown, the summary table, and the cursor
// work of the redraws.
#include "cli/live_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "serial/serial_line.h"

namespace mirk3 {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

constexpr uint64_t MIB = 1048576;
const Clock::time_point T0 = Clock::time_point{} + seconds(1000);

size_t Chars(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

PortRun Running(int slot, int port, uint64_t sent, uint64_t total) {
  PortRun p;
  p.run = 1;
  p.slot = slot;
  p.port = port;
  p.verdict = Verdict::Running;
  p.started = T0;
  p.firstByte = T0;
  p.sent = sent;
  p.total = total;
  return p;
}

PortRun Ended(PortRun p, Verdict verdict, int secondsTaken, std::string message = "") {
  p.verdict = verdict;
  p.ended = p.started + seconds(secondsTaken);
  p.message = std::move(message);
  return p;
}

TEST(RenderLive, DrawsARowPerPortWithRateAndTimeLeft) {
  PortRun flashing = Running(0, 3, 50 * MIB, 100 * MIB);
  flashing.usbPath = "1-1.2";
  flashing.step = "system.img";
  PortRun opening = Running(1, 4, 0, 0);  // nothing announced yet: no percent, no rate
  opening.step = "waiting for ttyACM4 (2/71)";
  PortRun failed =
      Ended(Running(2, 12, 10 * MIB, 100 * MIB), Verdict::Failed, 20, "device removed\r\n");

  const std::vector<std::string> frame =
      RenderLive({failed, opening, flashing}, 80, 23, T0 + seconds(10));
  const std::vector<std::string> expected = {
      "run 1  3 ports  running 2  passed 0  failed 1",
      "slot port     USB   step                                       done   MB/s  left",
      "   0 ttyACM3  1-1.2 system.img                                  50%    5.0 00:10",
      "   1 ttyACM4  -     waiting for ttyACM4 (2/71)                   --     --    --",
      "   2 ttyACM12 -     FAIL device removed                         10%    0.5    --",
  };
  EXPECT_EQ(frame, expected);
}

// Ports of a busy bench: passes, failures (with a line end in the text), ports that announced
// nothing yet, and ports half way.
std::vector<PortRun> Bench(int count) {
  std::vector<PortRun> ports;
  for (int i = 0; i < count; ++i) {
    PortRun p = Running(i, i + 1, static_cast<uint64_t>(i) * MIB, 64 * MIB);
    p.usbPath = "3-1.4." + std::to_string(i + 1);
    p.step = "userdata.img";
    if (i % 7 == 3) p = Ended(p, Verdict::Failed, 30 + i, "write failed\n(the phone said no)");
    if (i % 5 == 0) p.total = 0;
    if (i % 11 == 10) p = Ended(p, Verdict::Passed, 90);
    ports.push_back(p);
  }
  return ports;
}

// The port's cell or row, from its name up to the next port's name.
std::string PartOf(const std::vector<std::string>& frame, int port) {
  const std::string name = PortName(port) + " ";
  for (const std::string& line : frame) {
    const size_t at = line.find(name);
    if (at == std::string::npos) continue;
    const size_t next = line.find("ttyACM", at + name.size());
    return line.substr(at, next == std::string::npos ? std::string::npos : next - at);
  }
  return "";
}

TEST(RenderLive, FitsTheTerminalAndShowsEveryFailure) {
  struct Case {
    int ports, width, height;
    bool cut;  // more ports than even the grid holds
  };
  for (const Case c : {Case{1, 80, 23, false}, Case{5, 80, 23, false}, Case{12, 80, 23, false},
                       Case{56, 80, 23, false}, Case{56, 80, 8, true}, Case{56, 40, 12, true},
                       Case{12, 30, 40, false}, Case{56, 200, 60, false}}) {
    SCOPED_TRACE(testing::Message() << c.ports << " ports at " << c.width << "x" << c.height);
    const std::vector<PortRun> ports = Bench(c.ports);
    const std::vector<std::string> frame = RenderLive(ports, c.width, c.height, T0 + seconds(8));
    ASSERT_LE(frame.size(), static_cast<size_t>(c.height));
    const auto failures = std::count_if(
        ports.begin(), ports.end(), [](const PortRun& p) { return p.verdict == Verdict::Failed; });
    EXPECT_NE(frame[0].find("failed " + std::to_string(failures)), std::string::npos) << frame[0];
    size_t shown = 0;
    for (const std::string& line : frame) {
      EXPECT_LE(Chars(line), static_cast<size_t>(c.width)) << line;
      for (char ch : line) EXPECT_GE(static_cast<unsigned char>(ch), 0x20) << line;
      for (size_t at = line.find("ttyACM"); at != std::string::npos;
           at = line.find("ttyACM", at + 1)) {
        ++shown;
      }
    }
    for (const PortRun& p : ports) {
      if (p.verdict == Verdict::Failed) {
        EXPECT_NE(PartOf(frame, p.port).find("FAIL"), std::string::npos) << p.port;
      }
      if (p.verdict == Verdict::Running && p.total == 0 && !c.cut) {
        EXPECT_NE(PartOf(frame, p.port).find("--"), std::string::npos) << p.port;
      }
    }
    const std::string more = "+" + std::to_string(ports.size() - shown) + " more";
    EXPECT_EQ(frame.back().find(more) != std::string::npos, c.cut) << frame.back();
    if (!c.cut) {
      EXPECT_EQ(shown, ports.size());
    }
  }
}

TEST(RenderSummary, TabulatesEveryPortAndFitsTheWidth) {
  PortRun passed = Ended(Running(0, 3, 64 * MIB, 64 * MIB), Verdict::Passed, 83);
  passed.usbPath = "1-1.2";
  passed.model = "SM-X100";
  PortRun failed = Ended(Running(1, 12, 0, 0), Verdict::Failed, 5,
                         "The model of the phone does not match the package");
  const std::vector<PortRun> ports{failed, passed};

  const std::vector<std::string> expected = {
      "run 1  2 ports  passed 1  failed 1",
      "slot port     USB   model   result reason                                   time",
      "   0 ttyACM3  1-1.2 SM-X100 PASS                                           01:23",
      "   1 ttyACM12 -     -       FAIL   The model of the phone does not match ~ 00:05",
  };
  EXPECT_EQ(RenderSummary(ports, 80), expected);

  for (int width : {20, 40, 60, 200}) {
    for (const std::string& line : RenderSummary(Bench(56), width)) {
      EXPECT_LE(Chars(line), static_cast<size_t>(width)) << line;
      // From 40 columns on, the reason of a failure keeps room to be read.
      if (width >= 40 && line.find("FAIL") != std::string::npos) {
        EXPECT_NE(line.find("write failed"), std::string::npos) << line;
      }
    }
  }
}

TEST(LiveDisplay, RedrawsInPlaceAtMostFiveTimesASecond) {
  std::ostringstream out;
  LiveDisplay display(out, -1);  // no terminal: 80x24
  const std::vector<PortRun> ports = Bench(3);
  const auto take = [&] {
    std::string text = out.str();
    out.str("");
    return text;
  };

  display.Update(ports, T0);
  const std::string first = take();
  EXPECT_EQ(first.find("\033[4A"), std::string::npos);  // nothing drawn yet to go back over
  EXPECT_NE(first.find(RenderLive(ports, 80, 23, T0)[1]), std::string::npos);

  display.Update(ports, T0 + std::chrono::milliseconds(100));
  EXPECT_EQ(take(), "");  // too soon
  display.Update(ports, T0 + std::chrono::milliseconds(100), true);
  EXPECT_EQ(take().rfind("\r\033[5A", 0), 0u);  // header, titles and three rows

  display.Clear();
  EXPECT_EQ(take(), "\r\033[5A\033[2K\033[B\033[2K\033[B\033[2K\033[B\033[2K\033[B\033[2K\033[4A");
  display.Update(ports, T0 + std::chrono::milliseconds(150));  // after a Clear, never held back
  EXPECT_EQ(take().find("\033[5A"), std::string::npos);

  display.Finish(ports);
  const std::string summary = take();
  EXPECT_EQ(summary.rfind("\r\033[5A", 0), 0u);
  EXPECT_NE(summary.find(RenderSummary(ports, 80)[0]), std::string::npos);
  display.Clear();  // the table stays
  EXPECT_EQ(take(), "");
}

}  // namespace
}  // namespace mirk3
