// The jig's two lines over real pseudo-terminals: the write-only set-up port and the status
// line that stays open and picks up whatever has arrived.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "serial/comport.h"
#include "serial/serial_channel.h"
#include "support/pty_peer.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(JigLines, ComportWritesFramesOnlyWhileOpen) {
  EXPECT_EQ(CComport::WriteMsPerByte(115200), 2);
  EXPECT_EQ(CComport::WriteMsPerByte(9600), 24);

  test::TempDir dir;
  test::PtyPeer peer(dir.Path(), 1);
  const Bytes frame = {':', 'S', 'A', 'P', 'A', 'O', 'N', 0xFC};
  CComport port;
  EXPECT_EQ(port.Send(frame.data(), 8), 0) << "not open: nothing written";
  EXPECT_FALSE(port.Open(dir / "ttyUSB7", 115200, 8, PARITY_NONE, STOP_BITS_ONE));
  EXPECT_EQ(port.LastError(), LineError::NotFound);
  EXPECT_FALSE(port.Open(dir / "ttyACM1", 12345, 8, PARITY_NONE, STOP_BITS_ONE))
      << "a baud rate the line cannot take";
  EXPECT_FALSE(port.IsOpen());

  ASSERT_TRUE(port.Open(peer.LinkPath(), 115200, 8, PARITY_NONE, STOP_BITS_ONE));
  CComport second;
  EXPECT_FALSE(second.Open(peer.LinkPath(), 115200, 8, PARITY_NONE, STOP_BITS_ONE));
  EXPECT_EQ(second.LastError(), LineError::Busy);
  EXPECT_EQ(port.Send(frame.data(), 8), 8);
  EXPECT_EQ(peer.Read(8), frame);
  port.Close();
  port.Close();
  EXPECT_EQ(port.Send(frame.data(), 8), 0);
  // Given up whole: the next set-up phase opens the device again at once.
  ASSERT_TRUE(second.Open(peer.LinkPath(), 9600, 7, PARITY_EVEN, STOP_BITS_TWO));
  EXPECT_EQ(second.Send(frame.data(), 8), 8);
  EXPECT_EQ(peer.Read(8), frame);
}

TEST(JigLines, ChannelStaysOpenAndReceivesOnlyWhatHasArrived) {
  test::TempDir dir;
  test::PtyPeer peer(dir.Path(), 2);
  test::PtyPeer other(dir.Path(), 3);
  CSerialChannel line(std::chrono::milliseconds(0));
  uint8_t buffer[256];
  EXPECT_EQ(line.Receive(buffer, 256), 0);
  EXPECT_FALSE(line.Connect(dir / "ttyUSB7", 115200));
  ASSERT_TRUE(line.Connect(peer.LinkPath(), 115200));
  EXPECT_TRUE(line.Connect(other.LinkPath(), 115200)) << "already connected";
  EXPECT_EQ(line.DevicePath(), peer.LinkPath());

  // Nothing has arrived: no wait, no bytes.
  EXPECT_EQ(line.Receive(buffer, 256), 0);
  int atOnce = -1;
  const Bytes frame = {':', 'S', '1', 'V', 'E', 'R', '?', 0xEA};
  EXPECT_EQ(line.Transmit(frame.data(), 8, &atOnce), 8);
  EXPECT_EQ(atOnce, 1);
  EXPECT_EQ(peer.Read(8), frame);

  // Three bytes waiting and room for 256: the three, without waiting for more.
  ASSERT_TRUE(peer.Write(Bytes{':', 'V', '1'}));
  int got = 0;
  for (int i = 0; i < 500 && got == 0; ++i) {
    got = line.Receive(buffer, 256);
    if (got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(got, 3);
  EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{':', 'V', '1'}));
  EXPECT_EQ(line.Receive(buffer, 256), 0);
  // At most the maximum; the rest stays for the next look.
  ASSERT_TRUE(peer.Write(Bytes{1, 2, 3, 4, 5}));
  got = 0;
  for (int i = 0; i < 500 && got == 0; ++i) {
    got = line.Receive(buffer, 2);
    if (got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(Bytes(buffer, buffer + got), (Bytes{1, 2}));

  line.Disconnect();
  line.Disconnect();
  EXPECT_FALSE(line.IsConnected());
  EXPECT_EQ(line.Transmit(frame.data(), 8), 0);
  ASSERT_TRUE(line.Connect(other.LinkPath(), 115200)) << "a closed line opens anew";
  EXPECT_EQ(line.DevicePath(), other.LinkPath());
}

}  // namespace
}  // namespace mirk3
