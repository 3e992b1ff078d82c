// Partition-table records: byte positions of every field, and parsing of received tables that
// lie about their size.
#include "wire/pit_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/le.h"
#include "support/sample_pit.h"

namespace mirk3 {
namespace {

// SamplePitEntry(id, file) written by hand: nine words from byte 0, then the three 32-byte
// names at 36, 68 and 100, NUL-filled to the entry's end at 132.
std::vector<uint8_t> SampleEntryBytes(int32_t id, const std::string& file) {
  std::vector<uint8_t> bytes(132, 0);
  const uint32_t words[9] = {1, 2, static_cast<uint32_t>(id), 5, 0x44444444, 2048, 0x66666666,
                             7, 8};
  for (int i = 0; i < 9; ++i) PutLe32(&bytes[4 * i], words[i]);
  std::memcpy(&bytes[36], "SYSTEM", 6);
  std::memcpy(&bytes[68], file.data(), file.size());
  std::memcpy(&bytes[100], "aux", 3);
  return bytes;
}

std::vector<uint8_t> Encoded(const PitEntry& entry) {
  std::vector<uint8_t> bytes(132, 0xEE);
  entry.Encode(bytes.data());
  return bytes;
}

TEST(PitRecordTest, EntryFieldsSitAtTheirOffsets) {
  const std::vector<uint8_t> hand = SampleEntryBytes(-3, "system.img");
  EXPECT_EQ(Encoded(test::SamplePitEntry(-3, "system.img")), hand);
  // Decoding and encoding again gives the same bytes only when every field was read from
  // where it was written.
  const PitEntry back = PitEntry::Decode(hand.data());
  EXPECT_EQ(Encoded(back), hand);
  EXPECT_EQ(back.partitionId, -3);
  EXPECT_EQ(back.FileName(), "system.img");
}

TEST(PitRecordTest, NamesOfThirtyTwoBytesAndLongerNames) {
  uint8_t bytes[132] = {};
  std::memset(bytes + 68, 'a', 32);  // the file name without any NUL
  EXPECT_EQ(PitEntry::Decode(bytes).FileName(), std::string(32, 'a'));

  PitEntry entry;
  entry.SetFileName(std::string(40, 'b'));
  EXPECT_EQ(entry.FileName(), std::string(31, 'b'));
}

TEST(PitRecordTest, WholeTableIsAHeaderOfSevenWordsThenItsEntries) {
  PitTable table;
  table.header.words[0] = 0xABCD;
  table.header.words[1] = 99;  // replaced by the real count
  table.header.words[6] = 6;
  table.entries = {test::SamplePitEntry(1, "boot.img"), test::SamplePitEntry(2, "recovery.img")};

  std::vector<uint8_t> hand(28, 0);
  PutLe32(&hand[0], 0xABCD);
  PutLe32(&hand[4], 2);  // the entry count
  PutLe32(&hand[24], 6);
  for (const auto& entry : {SampleEntryBytes(1, "boot.img"), SampleEntryBytes(2, "recovery.img")}) {
    hand.insert(hand.end(), entry.begin(), entry.end());
  }
  EXPECT_EQ(EncodePitTable(table), hand);

  const PitTable back = ParsePitTable(hand.data(), hand.size());
  EXPECT_EQ(EncodePitTable(back), hand);
  EXPECT_EQ(back.header.EntryCount(), 2);
  ASSERT_NE(back.FindById(2), nullptr);
  EXPECT_EQ(back.FindById(2)->FileName(), "recovery.img");
  EXPECT_EQ(back.FindById(3), nullptr);
}

TEST(PitRecordTest, ReceivedTablesNeverReadPastTheirBytes) {
  PitTable table;
  table.entries = {test::SamplePitEntry(1, "a"), test::SamplePitEntry(2, "b"),
                   test::SamplePitEntry(3, "c")};
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
