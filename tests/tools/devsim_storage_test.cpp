// What an emulated phone keeps of the data it receives: each sequence at the running offset
// of the partition its end request names, refusals of partitions it does not have, and a
// table upload that replaces its own.
#include <filesystem>
#include <random>

#include "devsim_fixture.h"
#include "wire/pit_record.h"

namespace mirk3::devsim {
namespace {

using test::HostIo;
using test::RawHost;

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, 0);
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::pair<int32_t, int32_t> Answer(const std::optional<ResponsePacket>& response) {
  return response ? std::pair(response->id, response->value) : std::pair(0, 0);
}

// One sequence as the station sends it: 102/0, 102/2 with the length rounded up to 131072,
// packets of exactly the packet size (the last one padded), each acknowledged, then the end
// request. Returns the end request's answer.
std::pair<int32_t, int32_t> SendSequence(RawHost& host, const std::string& data, size_t packetSize,
                                         std::initializer_list<int32_t> end) {
  const auto announced = static_cast<int32_t>((data.size() + 131071) & ~size_t{131071});
  if (Answer(host.Request(102, 0)).first != 102) return {0, 1};
  if (Answer(host.Request(102, 2, {announced})).first != 102) return {0, 2};
  std::string packet(packetSize, '\xAA');
  for (size_t at = 0; at < data.size(); at += packetSize) {
    packet.replace(0, std::min(packetSize, data.size() - at), data, at, packetSize);
    uint8_t ack[8];
    if (host.Write(packet.data(), packet.size()) != HostIo::Ok) return {0, 3};
    if (host.Read(ack, sizeof ack) != HostIo::Ok) return {0, 4};
  }
  return Answer(host.Request(102, 3, end));
}

int32_t Length(const std::string& data) { return static_cast<int32_t>(data.size()); }

class DevsimStorageTest : public DevsimTest {
 protected:
  void StartStoring(std::vector<int> ports = {0}) {
    FarmConfig config = Config(std::move(ports));
    config.outDir = Path("out");
    Start(config);
  }
  std::string Stored(const std::string& partition, int port = 0) {
    return test::ReadFile(Path("out/ttyACM" + std::to_string(port) + "/" + partition));
  }
};

TEST_F(DevsimStorageTest, SequencesLandAtTheRunningOffsetOfTheirPartition) {
  StartStoring();
  RawHost host;
  Connect(host);
  ASSERT_EQ(Answer(host.Request(100, 5, {131072})).first, 100);
  const std::string first = RandomBytes(200000, 1), second = RandomBytes(70000, 2);
  // Phone layout: [1] length, [2] entryKind, [3] storageKind, [4] id, [5] last.
  EXPECT_EQ(SendSequence(host, first, 131072, {0, Length(first), 0, 2, 5, 0, 0, 0}),
            std::pair(102, 0));
  EXPECT_EQ(Stored("BOOT"), first);
  EXPECT_EQ(SendSequence(host, second, 131072, {0, Length(second), 0, 2, 5, 1, 0, 0}),
            std::pair(102, 0));
  EXPECT_EQ(Stored("BOOT"), first + second);

  // The last flag closed the partition: the next flash of it starts the file afresh.
  const std::string again = RandomBytes(1000, 3);
  EXPECT_EQ(SendSequence(host, again, 131072, {0, Length(again), 0, 2, 5, 1, 0, 0}),
            std::pair(102, 0));
  EXPECT_EQ(Stored("BOOT"), again);

  // Modem layout: [1] length, [4] last, [6] id; and 1 MiB packets after renegotiation.
  ASSERT_EQ(Answer(host.Request(100, 5, {1048576})).first, 100);
  const std::string modem = RandomBytes(3 * 1048576 + 5, 4);
  EXPECT_EQ(SendSequence(host, modem, 1048576, {1, Length(modem), 0, 0, 1, 0, 10, 0}),
            std::pair(102, 0));
  EXPECT_EQ(Stored("RADIO"), modem);
}

TEST_F(DevsimStorageTest, RefusesPartitionsItsTableDoesNotHaveAndMissingBytes) {
  StartStoring();
  RawHost host;
  Connect(host);
  const std::string data = RandomBytes(5000, 5);
  EXPECT_EQ(SendSequence(host, data, 131072, {0, 5000, 0, 2, 99, 1, 0, 0}), std::pair(-1, -4));
  EXPECT_EQ(SendSequence(host, data, 131072, {0, 5000, 0, 2, INT32_MIN, 1, 0, 0}),
            std::pair(-1, -4));
  EXPECT_EQ(SendSequence(host, data, 131072, {1, 5000, 0, 0, 1, 0, 99, 0}), std::pair(-1, -4));
  // More than the 131072 bytes that arrived.
  EXPECT_EQ(SendSequence(host, data, 131072, {0, 131073, 0, 2, 5, 1, 0, 0}), std::pair(-1, -6));
  EXPECT_EQ(SendSequence(host, data, 131072, {2, 5000, 0, 2, 5, 1, 0, 0}), std::pair(-1, -1));
  EXPECT_FALSE(std::filesystem::exists(Path("out/ttyACM0/BOOT")));
  // The refusals leave the phone in order for the next sequence.
  EXPECT_EQ(SendSequence(host, data, 131072, {0, 5000, 0, 2, 5, 1, 0, 0}), std::pair(102, 0));
  EXPECT_EQ(Stored("BOOT"), data);
}

TEST_F(DevsimStorageTest, UploadedTableReplacesItsOwn) {
  StartStoring();
  PitTable table;
  PitEntry entry;
  entry.storageKind = 2;
  entry.partitionId = 42;
  entry.SetPartitionName("NEWPART");
  entry.SetFileName("new.img");
  table.entries = {entry};
  const std::vector<uint8_t> pit = EncodePitTable(table);
  const auto size = static_cast<int32_t>(pit.size());

  RawHost host;
  Connect(host);
  // Table data with no upload begun is refused, and so is an end with the wrong length.
  EXPECT_EQ(Answer(host.Request(101, 2, {size})), std::pair(-1, -1));
  ASSERT_EQ(Answer(host.Request(101, 0)), std::pair(101, 0));
  ASSERT_EQ(Answer(host.Request(101, 2, {size})), std::pair(101, 0));
  ASSERT_EQ(host.Write(pit.data(), pit.size()), HostIo::Ok);
  uint8_t ack[8];
  ASSERT_EQ(host.Read(ack, sizeof ack), HostIo::Ok);
  EXPECT_EQ(Answer(host.Request(101, 3, {size})), std::pair(101, 0));
  EXPECT_EQ(farm_->Pit(0), pit);
  EXPECT_EQ(Answer(host.Request(101, 1)), std::pair(101, size));
  EXPECT_EQ(host.ReadPieces(101, 2, size), pit);
  ASSERT_EQ(Answer(host.Request(101, 3)), std::pair(101, 0));

  const std::string data = RandomBytes(4000, 6);
  EXPECT_EQ(SendSequence(host, data, 131072, {0, 4000, 0, 2, 5, 1, 0, 0}), std::pair(-1, -4));
  EXPECT_EQ(SendSequence(host, data, 131072, {0, 4000, 0, 2, 42, 1, 0, 0}), std::pair(102, 0));
  EXPECT_EQ(Stored("NEWPART"), data);
}

TEST_F(DevsimStorageTest, PhonesStoreInParallelAndDiscardKeepsNothing) {
  FarmConfig config = Config({0, 1, 2, 3});
  config.outDir = Path("out");
  Start(config);
  std::vector<std::thread> hosts;
  std::vector<std::pair<int32_t, int32_t>> answers(4);
  const std::string data = RandomBytes(4 * 1048576 - 17, 7);
  for (int port = 0; port < 4; ++port) {
    hosts.emplace_back([&, port] {
      RawHost host;
      if (!host.Open(farm_->LinkPath(port)) || host.Greet() != "TASH") return;
      if (Answer(host.Request(100, 5, {1048576})).first != 100) return;
      answers[port] = SendSequence(host, data, 1048576, {0, Length(data), 0, 2, 20, 1, 0, 0});
    });
  }
  for (auto& thread : hosts) thread.join();
  for (int port = 0; port < 4; ++port) {
    EXPECT_EQ(answers[port], std::pair(102, 0)) << port;
    EXPECT_TRUE(Stored("SYSTEM", port) == data) << port;
  }

  config.outDir = Path("discarded");
  config.discard = true;
  Start(config);
  RawHost host;
  Connect(host);
  EXPECT_EQ(SendSequence(host, data, 131072, {0, Length(data), 0, 2, 20, 1, 0, 0}),
            std::pair(102, 0));
  EXPECT_EQ(SendSequence(host, data, 131072, {0, Length(data), 0, 2, 77, 1, 0, 0}),
            std::pair(-1, -4));
  EXPECT_FALSE(std::filesystem::exists(Path("discarded")));
}

}  // namespace
}  // namespace mirk3::devsim
