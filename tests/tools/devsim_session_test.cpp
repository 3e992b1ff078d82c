// An emulated phone's conversation with a host: greeting, initialization answers, the request
// trace, the partition table and device information in pieces, and hosts that leave.
#include <set>

#include "base/le.h"
#include "devsim/builtin_pit.h"
#include "devsim_fixture.h"
#include "wire/pit_record.h"

namespace mirk3::devsim {
namespace {

using test::HostIo;
using test::RawHost;

std::pair<int32_t, int32_t> Answer(const std::optional<ResponsePacket>& response) {
  return response ? std::pair(response->id, response->value) : std::pair(0, 0);
}

TEST_F(DevsimTest, AnswersInitializationAndTracesEveryRequest) {
  FarmConfig config = Config({0});
  config.protocol = 3;
  config.traceDir = Path("trace");
  Start(config);
  RawHost host;
  Connect(host);

  EXPECT_EQ(Answer(host.Request(100, 0, {4})), std::pair(100, 3 << 16));
  EXPECT_EQ(Answer(host.Request(100, 5, {1048576})), std::pair(100, 0));
  EXPECT_EQ(Answer(host.Request(100, 2, {705032705, 1})), std::pair(100, 0));
  for (const int32_t sub : {3, 7, 8, 10}) {
    EXPECT_EQ(Answer(host.Request(100, sub, {1})), std::pair(100, 0)) << sub;
  }
  EXPECT_EQ(Answer(host.Request(103, 0)), std::pair(103, 0));
  // Unknown types and sub-types are refused, and the phone goes on answering.
  EXPECT_EQ(Answer(host.Request(104, 0)), std::pair(-1, -1));
  EXPECT_EQ(Answer(host.Request(100, 99)), std::pair(-1, -1));
  EXPECT_EQ(Answer(host.Request(100, 5, {0})), std::pair(-1, -6));
  EXPECT_EQ(Answer(host.Request(100, 0, {4})), std::pair(100, 3 << 16));

  const std::vector<std::string> expected = {
      "100/0 4 0 0 0 0 0 0 0",  "100/5 1048576 0 0 0 0 0 0 0", "100/2 705032705 1 0 0 0 0 0 0",
      "100/3 1 0 0 0 0 0 0 0",  "100/7 1 0 0 0 0 0 0 0",       "100/8 1 0 0 0 0 0 0 0",
      "100/10 1 0 0 0 0 0 0 0", "103/0 0 0 0 0 0 0 0 0",       "104/0 0 0 0 0 0 0 0 0",
      "100/99 0 0 0 0 0 0 0 0", "100/5 0 0 0 0 0 0 0 0",       "100/0 4 0 0 0 0 0 0 0"};
  EXPECT_EQ(farm_->Trace(0), expected);
  std::string file;
  for (const auto& line : expected) file += line + "\n";
  EXPECT_EQ(test::ReadFile(Path("trace/ttyACM0.trace")), file);
}

TEST_F(DevsimTest, BuiltinTableNamesTheUsualMembersWithUniqueIds) {
  const std::vector<uint8_t> bytes = BuiltinPit();
  const PitTable table = ParsePitTable(bytes.data(), bytes.size());
  std::set<int32_t> ids;
  std::set<std::string> files;
  for (const PitEntry& entry : table.entries) {
    ids.insert(entry.partitionId);
    files.insert(std::string(entry.FileName()));
    EXPECT_FALSE(entry.PartitionName().empty());
    EXPECT_GE(entry.partitionId, 0);
  }
  EXPECT_EQ(ids.size(), table.entries.size());
  for (const char* member : {"boot.img", "recovery.img", "system.img", "modem.bin", "efs.img"}) {
    EXPECT_TRUE(files.count(member)) << member;
  }
}

TEST_F(DevsimTest, TableIsReadInPiecesOf500Bytes) {
  for (const size_t size : {size_t{500}, size_t{501}, BuiltinPit().size()}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> pit(size);
    for (size_t i = 0; i < size; ++i) pit[i] = static_cast<uint8_t>(i * 7 + 1);
    FarmConfig config = Config({0});
    config.pit = pit;
    Start(config);
    RawHost host;
    Connect(host);
    EXPECT_EQ(Answer(host.Request(101, 1)), std::pair(101, static_cast<int32_t>(size)));
    EXPECT_EQ(host.ReadPieces(101, 2, static_cast<int32_t>(size)), pit);
    // Nothing follows the last piece: the next answer is the end request's.
    EXPECT_EQ(Answer(host.Request(101, 3)), std::pair(101, 0));
    // A piece past the end is refused with a response instead of silence.
    ASSERT_EQ(Answer(host.Request(101, 1)).first, 101);
    const auto pastEnd = static_cast<int32_t>((size + 499) / 500);
    EXPECT_EQ(Answer(host.Request(101, 2, {pastEnd})), std::pair(-1, -1));
  }
}

TEST_F(DevsimTest, DeviceInformationNamesTheModel) {
  FarmConfig config = Config({0, 1, 2});
  config.model = "ABC123";
  config.faults[1].deviceInfoSize = 700;
  config.faults[1].deviceInfoMagic = 0xDEADBEEF;
  config.faults[2].model = "OTHER9";
  Start(config);

  RawHost host;
  Connect(host, 0);
  const auto size = host.Request(105, 0);
  ASSERT_TRUE(size && size->id == 105);
  ASSERT_GT(size->value, 0);
  EXPECT_EQ(size->value % 500, 0);
  const std::vector<uint8_t> record = host.ReadPieces(105, 1, size->value);
  ASSERT_EQ(record.size(), static_cast<size_t>(size->value));
  EXPECT_EQ(Answer(host.Request(105, 2)), std::pair(105, 0));
  EXPECT_EQ(GetLe32(&record[0]), 0x12345678u);
  ASSERT_EQ(GetLe32(&record[4]), 2u);
  // Descriptors {type, offset from byte 8, length}; the model comes first.
  EXPECT_EQ(GetLe32(&record[8]), 0u);
  EXPECT_STREQ(reinterpret_cast<const char*>(&record[8 + GetLe32(&record[12])]), "ABC123");
  EXPECT_EQ(GetLe32(&record[20]), 1u);
  EXPECT_STREQ(reinterpret_cast<const char*>(&record[8 + GetLe32(&record[24])]), DEVICE_TEXT);

  RawHost odd;
  Connect(odd, 1);
  EXPECT_EQ(Answer(odd.Request(105, 0)), std::pair(105, 700));
  uint8_t piece[500];
  ASSERT_TRUE(odd.Send(105, 1, {0}));
  ASSERT_EQ(odd.Read(piece, sizeof piece), HostIo::Ok);
  EXPECT_EQ(GetLe32(piece), 0xDEADBEEFu);

  RawHost other;
  Connect(other, 2);
  const auto otherSize = other.Request(105, 0);
  ASSERT_TRUE(otherSize);
  const auto otherRecord = other.ReadPieces(105, 1, otherSize->value);
  ASSERT_GT(otherRecord.size(), 8u);
  EXPECT_STREQ(reinterpret_cast<const char*>(&otherRecord[8 + GetLe32(&otherRecord[12])]),
               "OTHER9");
}

TEST_F(DevsimTest, HostThatLeavesMidExchangeIsForgotten) {
  Start(Config({0}));
  {
    RawHost host;
    Connect(host);
    ASSERT_EQ(Answer(host.Request(100, 5, {131072})).first, 100);
    // An upload that stops after 300 of 1000 bytes, and a request never read.
    ASSERT_EQ(Answer(host.Request(101, 0)).first, 101);
    ASSERT_EQ(Answer(host.Request(101, 2, {1000})).first, 101);
    const std::vector<uint8_t> part(300, 0x4D);
    ASSERT_EQ(host.Write(part.data(), part.size()), HostIo::Ok);
  }
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    RawHost host;
    Connect(host);  // greeted, not swallowed as table data
    EXPECT_EQ(Answer(host.Request(100, 0, {4})), std::pair(100, 4 << 16));
    ASSERT_TRUE(host.Send(100, 0, {4}));  // left unanswered in the line on purpose
  }
  // A second greeting where a request would start begins a new session without a close.
  RawHost host;
  Connect(host);
  EXPECT_EQ(host.Greet(), "TASH");
  EXPECT_EQ(Answer(host.Request(103, 0)), std::pair(103, 0));
  EXPECT_TRUE(farm_->Plugged(0));
}

}  // namespace
}  // namespace mirk3::devsim
