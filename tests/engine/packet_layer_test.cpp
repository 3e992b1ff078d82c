// Requests, responses and data packets between the packet layer and a scripted boot loader on
// a real pseudo-terminal.
#include "engine/packet_layer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <thread>

#include "base/le.h"
#include "serial/serial_line.h"
#include "support/pty_peer.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"
#include "wire/request_packet.h"
#include "wire/response_packet.h"

namespace mirk3 {
namespace {

using namespace std::chrono_literals;
using test::PtyPeer;
using test::RecordingSink;
using test::TempDir;

class PacketLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Timing timing;
    timing.openAttempts = 1;
    timing.openSettle = 0ms;
    timing.firstByteTimeout = 20s;
    line = std::make_unique<CWinRs232cSync>(timing, dir.Path());
    ASSERT_TRUE(line->OpenPort(7));
    packets = std::make_unique<PacketLayer>(*line, reports);
  }

  // Runs `call` on a thread while the test plays the boot loader.
  template <typename F>
  auto Async(F call) {
    return std::async(std::launch::async, call);
  }

  TempDir dir;
  PtyPeer peer{dir.Path(), 7};
  RecordingSink sink;
  ReportChannel reports{&sink, 7};
  std::unique_ptr<CWinRs232cSync> line;
  std::unique_ptr<PacketLayer> packets;
};

TEST_F(PacketLayerTest, RequestsAreExactly1024BytesWithTheirFields) {
  auto result = Async([&] {
    const int32_t words[8] = {0, 31457280, 2, 3, 4, 1, 0, -1};
    return packets->SendRequest(RQT_XMIT, RQT_XMIT_END, words, 8, nullptr, nullptr, true);
  });
  auto bytes = peer.Read(REQUEST_PACKET_SIZE);
  ASSERT_EQ(bytes.size(), 1024u);
  EXPECT_EQ(GetLe32s(&bytes[0]), 102);
  EXPECT_EQ(GetLe32s(&bytes[4]), 3);
  EXPECT_EQ(GetLe32s(&bytes[12]), 31457280);
  EXPECT_EQ(GetLe32s(&bytes[36]), -1);
  for (size_t i = 40; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
  peer.Respond(102, -7);  // the right id succeeds whatever the value
  EXPECT_EQ(result.get(), -7);
  EXPECT_TRUE(sink.All().empty());

  // No parameters: type, sub-type, then zeros; the texts land at 44 and 172, cut to size.
  const std::string longText(200, 'a');
  result = Async([&] {
    return packets->SendRequest(RQT_CLOSE, 0, nullptr, 0, longText.c_str(), "pit", false);
  });
  bytes = peer.Read(REQUEST_PACKET_SIZE);
  EXPECT_EQ(result.get(), 0) << "no response expected";
  EXPECT_EQ(GetLe32s(&bytes[0]), 103);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&bytes[44])), std::string(127, 'a'));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&bytes[172])), "pit");
  for (size_t i = 8; i < 44; ++i) ASSERT_EQ(bytes[i], 0);
}

TEST_F(PacketLayerTest, FailureResponsesAreReportedInOrder) {
  struct Case {
    int32_t type, sub, id, value;
    std::vector<std::string> reports;
  };
  const std::vector<Case> cases = {
      {102, 3, -1, -4, {"FAIL! (Write)|-4", "Rqt ID: 102 Fail. (Res: 0xFFFFFFFF)|99"}},
      {102, 3, -1, -2, {"FAIL! (WP)|-2", "Rqt ID: 102 Fail. (Res: 0xFFFFFFFF)|99"}},
      {102, 3, -1, 5, {"FAIL!|0", "Rqt ID: 102 Fail. (Res: 0xFFFFFFFF)|99"}},
      {101, 3, -1, -4, {"Rqt ID: 101 Fail. (Res: 0xFFFFFFFF)|99"}},
      {100, 3, -1, -4, {"Rqt ID: 100 Fail. (Res: 0xFFFFFFFF)|99"}},
      {100, 0, 101, 0, {"Rqt ID: 100 Fail. (Res: 0x00000065)|99"}},
  };
  for (const auto& c : cases) {
    sink.Clear();
    auto result = Async([&] { return packets->SendRequest(c.type, c.sub, {}); });
    ASSERT_EQ(peer.Read(REQUEST_PACKET_SIZE).size(), 1024u);
    peer.Respond(c.id, c.value);
    EXPECT_EQ(result.get(), REQUEST_FAILED);
    EXPECT_EQ(sink.Of(WM_DL_FAIL), c.reports) << c.type << "/" << c.sub;
  }
}

TEST_F(PacketLayerTest, BootLoaderFailureCodesMapToTheirMessages) {
  const std::vector<std::pair<int32_t, std::string>> cases = {
      {-2, "FAIL! (WP)|-2"},   {-3, "FAIL! (Erase)|-3"}, {-4, "FAIL! (Write)|-4"},
      {-5, "FAIL! (Auth)|-5"}, {-6, "FAIL! (Size)|-6"},  {-7, "FAIL! (Ext4)|-7"},
      {-1, "FAIL!|0"},         {0, "FAIL!|0"},           {42, "FAIL!|0"},
  };
  for (const auto& [code, expected] : cases) {
    sink.Clear();
    EXPECT_FALSE(packets->ReportFailCode(code));
    EXPECT_EQ(sink.Of(WM_DL_FAIL), std::vector<std::string>{expected});
  }
  sink.Clear();
  packets->ReportFailCode(REQUEST_FAILED);
  const auto seen = sink.All();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].report.value, 2);
  EXPECT_FALSE(seen[0].report.text.empty());
}

TEST_F(PacketLayerTest, FileDataGoesInFullPacketsWithAZeroTail) {
  std::string content(300000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(1 + i % 251);
  test::WriteFile(dir / "member.bin", content);
  const int fd = ::open((dir / "member.bin").c_str(), O_RDONLY);
  auto sent = Async([&] { return packets->SendFileData(fd, 300000, "boot.img"); });
  std::string received;
  for (int packet = 0; packet < 3; ++packet) {
    const auto bytes = peer.Read(131072);
    ASSERT_EQ(bytes.size(), 131072u) << "packet " << packet;
    received.append(bytes.begin(), bytes.end());
    peer.Respond(0, 0);
  }
  EXPECT_TRUE(sent.get());
  ::close(fd);
  EXPECT_EQ(received.substr(0, 300000), content);
  EXPECT_EQ(received.substr(300000), std::string(131072 * 3 - 300000, '\0'));
  EXPECT_EQ(sink.Of(WM_DL_PROGRESS),
            (std::vector<std::string>{"boot.img|131072", "boot.img|262144", "boot.img|300000"}));
  EXPECT_EQ(packets->SentBytes(), 300000u);
}

TEST_F(PacketLayerTest, AShortPackageEndsTheTransferWithoutStaleBytes) {
  test::WriteFile(dir / "short.bin", std::string(200000, 'z'));
  const int fd = ::open((dir / "short.bin").c_str(), O_RDONLY);
  auto sent = Async([&] { return packets->SendFileData(fd, 300000, "system.img"); });
  ASSERT_EQ(peer.Read(131072).size(), 131072u);
  peer.Respond(0, 0);
  EXPECT_FALSE(sent.get());
  ::close(fd);
  EXPECT_TRUE(peer.Read(1, 200ms).empty()) << "no part of a packet the file could not fill";
  EXPECT_EQ(packets->SentBytes(), 131072u);
}

class FailingStream : public ByteStream {
 public:
  explicit FailingStream(size_t good) : good_(good) {}
  bool ReadExact(void* buffer, size_t count) override {
    if (count > good_) return false;
    std::memset(buffer, 'q', count);
    good_ -= count;
    return true;
  }
  bool Finish() override { return good_ == 0; }
  std::string FailureText() const override { return "the stream is damaged"; }

 private:
  size_t good_;
};

TEST_F(PacketLayerTest, AFailingStreamSendsNothingItDidNotProduce) {
  FailingStream stream(131072 + 5);
  auto sent = Async([&] { return packets->SendFileData(stream, 400000, "modem.bin"); });
  const auto first = peer.Read(131072);
  ASSERT_EQ(first.size(), 131072u);
  EXPECT_EQ(first[0], 'q');
  peer.Respond(0, 0);
  EXPECT_FALSE(sent.get());
  EXPECT_TRUE(peer.Read(1, 200ms).empty());
  const auto logs = sink.Of(WM_DL_LOG);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0], "modem.bin: the stream is damaged|0");
}

class CountingStream : public ByteStream {
 public:
  bool ReadExact(void* buffer, size_t count) override {
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(produced_++ % 251);
    return true;
  }
  bool Finish() override { return true; }
  std::string FailureText() const override { return ""; }

 private:
  uint64_t produced_ = 0;
};

TEST_F(PacketLayerTest, AStreamIsPreparedAheadButSentInOrderOnlyAfterEachAcknowledgement) {
  CountingStream stream;
  const uint32_t count = 5 * 131072 + 999;
  auto sent = Async([&] { return packets->SendFileData(stream, count, "system"); });
  std::string received;
  for (int packet = 0; packet < 6; ++packet) {
    // A slow device: the line fills up while the next packet is being prepared.
    std::this_thread::sleep_for(20ms);
    const auto bytes = peer.Read(131072);
    ASSERT_EQ(bytes.size(), 131072u) << "packet " << packet;
    EXPECT_TRUE(peer.Read(1, 50ms).empty()) << "the next packet waits for the acknowledgement";
    received.append(bytes.begin(), bytes.end());
    peer.Respond(0, 0);
  }
  EXPECT_TRUE(sent.get());
  for (uint32_t i = 0; i < count; ++i) {
    ASSERT_EQ(static_cast<uint8_t>(received[i]), i % 251) << "byte " << i;
  }
  EXPECT_EQ(received.substr(count), std::string(6 * 131072 - count, '\0'));
  EXPECT_EQ(packets->SentBytes(), count);
}

TEST_F(PacketLayerTest, ARemovedPeerFailsTheTransferAndClosesTheLine) {
  // Gone while the packet is on its way: the write or the acknowledgement read fails.
  std::vector<uint8_t> packet(1 << 20, 0x5A);
  auto sent =
      Async([&] { return packets->XmitData(packet.data(), static_cast<int>(packet.size())); });
  std::this_thread::sleep_for(50ms);
  peer.Unplug();
  EXPECT_FALSE(sent.get());
  EXPECT_FALSE(line->IsOpen());
  const auto logs = sink.Of(WM_DL_LOG);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_TRUE(logs[0] == "__XmitData_Write|0" || logs[0] == "__XmitData_Read|0") << logs[0];
  // Every later request fails at its first write.
  EXPECT_EQ(packets->SendRequest(RQT_CLOSE, 0, {}), REQUEST_FAILED);
}

TEST_F(PacketLayerTest, AcknowledgementNeverComingFailsWithTheReadMessage) {
  std::vector<uint8_t> packet(4096, 1);
  auto sent = Async([&] { return packets->XmitData(packet.data(), 4096); });
  ASSERT_EQ(peer.Read(4096).size(), 4096u);
  peer.Unplug();
  EXPECT_FALSE(sent.get());
  EXPECT_EQ(sink.Of(WM_DL_LOG), std::vector<std::string>{"__XmitData_Read|0"});
}

}  // namespace
}  // namespace mirk3
