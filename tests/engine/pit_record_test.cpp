// Partition-table records: byte positions of every field, and parsing of received tables that
// lie about their size.
#include <gtest/gtest.h>

#include <cstring>

#include "base/le.h"
#include "engine/pit.h"

namespace mirk3 {
namespace {

PitEntry SampleEntry(int32_t id, const char* file) {
  PitEntry entry;
  entry.entryKind = 1;
  entry.storageKind = 2;
  entry.partitionId = id;
  entry.attributes = 5;
  entry.word4 = 0x44444444;
  entry.blockParam = 2048;
  entry.word6 = 0x66666666;
  entry.word7 = 7;
  entry.word8 = 8;
  entry.SetPartitionName("SYSTEM");
  entry.SetFileName(file);
  entry.SetAuxName("aux");
  return entry;
}

TEST(PitRecordTest, EntryFieldsSitAtTheirOffsets) {
  uint8_t bytes[PIT_ENTRY_SIZE];
  std::memset(bytes, 0xEE, sizeof bytes);
  SampleEntry(-3, "system.img").Encode(bytes);
  EXPECT_EQ(GetLe32(bytes + 0), 1u);
  EXPECT_EQ(GetLe32(bytes + 4), 2u);
  EXPECT_EQ(GetLe32s(bytes + 8), -3);
  EXPECT_EQ(GetLe32(bytes + 12), 5u);
  EXPECT_EQ(GetLe32(bytes + 16), 0x44444444u);
  EXPECT_EQ(GetLe32(bytes + 20), 2048u);
  EXPECT_EQ(GetLe32(bytes + 24), 0x66666666u);
  EXPECT_EQ(GetLe32(bytes + 28), 7u);
  EXPECT_EQ(GetLe32(bytes + 32), 8u);
  EXPECT_STREQ(reinterpret_cast<char*>(bytes + 36), "SYSTEM");
  EXPECT_STREQ(reinterpret_cast<char*>(bytes + 68), "system.img");
  EXPECT_STREQ(reinterpret_cast<char*>(bytes + 100), "aux");
  EXPECT_EQ(bytes[131], 0);  // the names are NUL-filled to the end of the entry

  const PitEntry back = PitEntry::Decode(bytes);
  EXPECT_EQ(back.partitionId, -3);
  EXPECT_EQ(back.word6, 0x66666666u);
  EXPECT_EQ(back.FileName(), "system.img");
  EXPECT_EQ(back.AuxName(), "aux");
}

TEST(PitRecordTest, NamesOfThirtyTwoBytesAndLongerNames) {
  uint8_t bytes[PIT_ENTRY_SIZE] = {};
  std::memset(bytes + PIT_FILE_NAME_OFFSET, 'a', PIT_NAME_SIZE);  // no NUL at all
  EXPECT_EQ(PitEntry::Decode(bytes).FileName(), std::string(32, 'a'));

  PitEntry entry;
  entry.SetFileName(std::string(40, 'b'));
  EXPECT_EQ(entry.FileName(), std::string(31, 'b'));
}

TEST(PitRecordTest, WholeTableRoundTripsAndCountsItsEntries) {
  PitTable table;
  table.header.words[0] = 0xABCD;
  table.header.words[1] = 99;  // replaced by the real count
  table.header.words[6] = 6;
  table.entries = {SampleEntry(1, "boot.img"), SampleEntry(2, "recovery.img")};
  const std::vector<uint8_t> bytes = EncodePitTable(table);
  ASSERT_EQ(bytes.size(), 28u + 2 * 132u);
  EXPECT_EQ(GetLe32(bytes.data() + 4), 2u);

  const PitTable back = ParsePitTable(bytes.data(), bytes.size());
  EXPECT_EQ(back.header.words[0], 0xABCDu);
  EXPECT_EQ(back.header.words[6], 6u);
  ASSERT_EQ(back.entries.size(), 2u);
  EXPECT_EQ(back.entries[1].FileName(), "recovery.img");
  ASSERT_NE(back.FindById(2), nullptr);
  EXPECT_EQ(back.FindById(2)->FileName(), "recovery.img");
  EXPECT_EQ(back.FindById(3), nullptr);
}

TEST(PitRecordTest, ReceivedTablesNeverReadPastTheirBytes) {
  PitTable table;
  table.entries = {SampleEntry(1, "a"), SampleEntry(2, "b"), SampleEntry(3, "c")};
  const std::vector<uint8_t> full = EncodePitTable(table);

  // Each case copies exactly the bytes that were received, so ASan sees any over-read.
  auto parse = [](std::vector<uint8_t> bytes) { return ParsePitTable(bytes.data(), bytes.size()); };

  std::vector<uint8_t> cut(full.begin(), full.end() - 1);  // third entry one byte short
  EXPECT_EQ(parse(cut).entries.size(), 2u);
  EXPECT_EQ(parse(cut).header.EntryCount(), 3);

  std::vector<uint8_t> bigClaim = full;
  PutLe32(bigClaim.data() + 4, 0x7FFFFFFF);
  EXPECT_EQ(parse(bigClaim).entries.size(), 3u);

  std::vector<uint8_t> smallClaim = full;
  PutLe32(smallClaim.data() + 4, 1);
  ASSERT_EQ(parse(smallClaim).entries.size(), 1u);

  std::vector<uint8_t> negative = full;
  PutLe32(negative.data() + 4, 0xFFFFFFFF);
  EXPECT_TRUE(parse(negative).entries.empty());

  EXPECT_TRUE(parse(std::vector<uint8_t>(full.begin(), full.begin() + 27)).entries.empty());
  EXPECT_TRUE(parse({}).entries.empty());
  EXPECT_TRUE(ParsePitTable(nullptr, 0).entries.empty());
}

}  // namespace
}  // namespace mirk3
