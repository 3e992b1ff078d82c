// The engine's serial line over real pseudo-terminals published in a temporary port dir.
#include "serial/serial_line.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <thread>

#include "support/pty_peer.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

using namespace std::chrono_literals;
using test::PtyPeer;
using test::TempDir;

Timing ShortTiming() {
  Timing timing;
  timing.openAttempts = 2;
  timing.openRetryPause = 20ms;
  timing.openSettle = 1ms;
  timing.firstByteTimeout = 60s;
  return timing;
}

TEST(SerialLine, OpensByNumberExclusivelyAndClosesOnce) {
  TempDir dir;
  PtyPeer peer(dir.Path(), 17);
  CWinRs232cSync line(ShortTiming(), dir.Path());
  ASSERT_TRUE(line.OpenPort(17));
  EXPECT_TRUE(line.IsOpen());
  EXPECT_EQ(line.DevicePath(), dir / "ttyACM17");

  CWinRs232cSync second(ShortTiming(), dir.Path());
  EXPECT_FALSE(second.OpenPort(17)) << "a second opener must be refused while the line is open";

  EXPECT_TRUE(line.ClosePort());
  EXPECT_FALSE(line.ClosePort());
  EXPECT_FALSE(line.IsOpen());
  EXPECT_TRUE(second.OpenPort(17)) << "closing releases the port";
}

TEST(SerialLine, DestructorReleasesThePort) {
  TempDir dir;
  PtyPeer peer(dir.Path(), 3);
  {
    CWinRs232cSync line(ShortTiming(), dir.Path());
    ASSERT_TRUE(line.OpenPort(3));
  }
  CWinRs232cSync again(ShortTiming(), dir.Path());
  EXPECT_TRUE(again.OpenPort(3));
}

TEST(SerialLine, AbsentPortFailsAfterEveryAttempt) {
  TempDir dir;
  Timing timing = ShortTiming();
  timing.openAttempts = 4;
  timing.openRetryPause = 50ms;
  CWinRs232cSync line(timing, dir.Path());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(line.OpenPort(5));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms)
      << "each attempt is followed by a pause";
  EXPECT_FALSE(line.IsOpen());
}

TEST(SerialLine, PortAppearingDuringTheAttemptsIsOpened) {
  TempDir dir;
  Timing timing = ShortTiming();
  timing.openAttempts = 200;
  timing.openRetryPause = 10ms;
  CWinRs232cSync line(timing, dir.Path());
  auto opened = std::async(std::launch::async, [&] { return line.OpenPort(9); });
  std::this_thread::sleep_for(50ms);
  PtyPeer peer(dir.Path(), 9);
  EXPECT_TRUE(opened.get());
}

TEST(SerialLine, ReadsExactCountsAcrossSeveralArrivalsAndWritesWholeBuffers) {
  TempDir dir;
  PtyPeer peer(dir.Path(), 0);
  CWinRs232cSync line(ShortTiming(), dir.Path());
  ASSERT_TRUE(line.OpenPort(0));

  std::thread device([&] {
    peer.Write("abc", 3);
    std::this_thread::sleep_for(30ms);
    peer.Write("defgh", 5);
  });
  char buffer[9] = {};
  EXPECT_TRUE(line.ReadData(buffer, 8));
  device.join();
  EXPECT_EQ(line.LastError(), LineError::None);
  EXPECT_STREQ(buffer, "abcdefgh");

  // A buffer far larger than any terminal queue goes out whole; bytes pass unchanged (raw).
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 9));
  auto received = std::async(std::launch::async, [&] { return peer.Read(big.size()); });
  EXPECT_TRUE(line.WriteData(big.data(), static_cast<int>(big.size())));
  const auto bytes = received.get();
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), big);
}

TEST(SerialLine, SilentDeviceTimesOutOnTheFirstByte) {
  TempDir dir;
  PtyPeer peer(dir.Path(), 1);
  Timing timing = ShortTiming();
  timing.firstByteTimeout = 150ms;
  CWinRs232cSync line(timing, dir.Path());
  ASSERT_TRUE(line.OpenPort(1));
  char buffer[8];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(line.ReadData(buffer, 8));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  EXPECT_EQ(line.LastError(), LineError::TimedOut);
  EXPECT_TRUE(line.IsOpen()) << "a failed read leaves the line as it was";
}

TEST(SerialLine, RemovedDeviceEndsAReadPromptlyWithTheRemovalCode) {
  TempDir dir;
  PtyPeer peer(dir.Path(), 2);
  CWinRs232cSync line(ShortTiming(), dir.Path());  // 60 s first-byte time-out
  ASSERT_TRUE(line.OpenPort(2));
  peer.Write("1234", 4);  // half an answer, then the device is gone
  std::thread unplug([&] {
    std::this_thread::sleep_for(50ms);
    peer.Unplug();
  });
  char buffer[8];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(line.ReadData(buffer, 8));
  unplug.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  EXPECT_EQ(line.LastError(), LineError::Removed);

  // Further reads and writes fail at once with the same kind.
  EXPECT_FALSE(line.ReadData(buffer, 8));
  EXPECT_EQ(line.LastError(), LineError::Removed);
  EXPECT_FALSE(line.WriteData("MIRK", 4));
  EXPECT_EQ(line.LastError(), LineError::Removed);
  EXPECT_TRUE(line.ClosePort());
  EXPECT_FALSE(line.WriteData("MIRK", 4));
  EXPECT_EQ(line.LastError(), LineError::Removed) << "a closed line keeps why it failed";
}

TEST(SerialLine, RemovedDeviceEndsAWritePromptlyWithTheRemovalCode) {
  TempDir dir;
  PtyPeer peer(dir.Path(), 4);
  CWinRs232cSync line(ShortTiming(), dir.Path());
  ASSERT_TRUE(line.OpenPort(4));
  std::thread unplug([&] {
    std::this_thread::sleep_for(100ms);  // the device reads nothing, so the write blocks
    peer.Unplug();
  });
  std::vector<char> packet(4 << 20, 'x');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(line.WriteData(packet.data(), static_cast<int>(packet.size())));
  unplug.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  EXPECT_EQ(line.LastError(), LineError::Removed);
}

// A port that does not open says which of the operator's problems it is, with its path, and
// every failed attempt is told as it happens.
TEST(SerialLine, APortThatDoesNotOpenSaysWhy) {
  TempDir dir;
  PtyPeer held(dir.Path(), 1);
  CWinRs232cSync holder(ShortTiming(), dir.Path());
  ASSERT_TRUE(holder.OpenPort(1));
  test::WriteFile(dir / "ttyACM2", "not a terminal");
  const struct {
    int port;
    LineError kind;
    std::string problem;
  } cases[] = {
      {0, LineError::NotFound, "no such port"},
      {1, LineError::Busy, "in use by another program"},
      {2, LineError::Other, "not a serial port"},
  };
  for (const auto& c : cases) {
    CWinRs232cSync line(ShortTiming(), dir.Path());
    std::vector<std::string> told;
    EXPECT_FALSE(line.OpenPort(c.port, [&](int attempt, int attempts, LineError why) {
      told.push_back(std::to_string(attempt) + "/" + std::to_string(attempts) + " " +
                     LineErrorText(why));
    }));
    EXPECT_EQ(line.LastError(), c.kind) << c.port;
    EXPECT_EQ(line.OpenProblem().rfind(dir / ("ttyACM" + std::to_string(c.port)) + ": ", 0), 0u);
    EXPECT_NE(line.OpenProblem().find(c.problem), std::string::npos) << line.OpenProblem();
    EXPECT_EQ(told, (std::vector<std::string>{"1/2 " + LineErrorText(c.kind),
                                              "2/2 " + LineErrorText(c.kind)}));
  }
}

TEST(SerialLine, PortNamesAndPortDirFromTheEnvironment) {
  EXPECT_EQ(PortName(0), "ttyACM0");
  EXPECT_EQ(PortName(255), "ttyACM255");
  setenv("MIRK3_PORT_DIR", "/tmp/elsewhere", 1);
  EXPECT_EQ(DefaultPortDir(), "/tmp/elsewhere");
  unsetenv("MIRK3_PORT_DIR");
  EXPECT_EQ(DefaultPortDir(), "/dev");
}

}  // namespace
}  // namespace mirk3
