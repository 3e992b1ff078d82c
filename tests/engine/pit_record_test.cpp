// Partition-table records: byte positions of every field, parsing of received tables that
// lie about their size, and the proof a file must give before it is written to a device.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "base/file.h"
#include "base/le.h"
#include "engine/pit.h"
#include "support/temp_dir.h"

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

TEST(PitRecordTest, OnlyTablesAreReadFromFilesAndTheRefusalSaysWhatWasFound) {
  using Outcome = PitFileRead::Outcome;
  PitTable three;
  three.entries = {SampleEntry(1, "a"), SampleEntry(2, "b"), SampleEntry(3, "c")};
  const auto table = EncodePitTable(three);
  const std::string tableText(table.begin(), table.end());
  std::string overClaim = tableText;
  PutLe32(reinterpret_cast<uint8_t*>(overClaim.data()) + 4, 4);
  std::string hugeClaim = tableText;
  PutLe32(reinterpret_cast<uint8_t*>(hugeClaim.data()) + 4, 0x7FFFFFFF);
  std::string negative = tableText;
  PutLe32(reinterpret_cast<uint8_t*>(negative.data()) + 4, 0xFFFFFFFF);
  const std::string prefix = std::string(100, 'p');  // a table inside a package, past a prefix

  struct Case {
    const char* name;
    std::string file;
    uint64_t offset, size;  // the region the table should fill
    Outcome outcome;
    std::vector<std::string> said;  // words the refusal must hold
  };
  const std::vector<Case> cases = {
      {"a table", tableText, 0, table.size(), Outcome::Table, {}},
      {"bytes after the entries travel too",
       tableText + "tail",
       0,
       table.size() + 4,
       Outcome::Table,
       {}},
      {"a table inside a package", prefix + tableText, 100, table.size(), Outcome::Table, {}},
      {"empty", "", 0, 0, Outcome::NotATable, {"0 bytes", "28-byte header"}},
      {"shorter than its header", std::string(27, '\0'), 0, 27, Outcome::NotATable, {"27 bytes"}},
      {"header only", std::string(28, '\0'), 0, 28, Outcome::NotATable, {"28 bytes", "0 entries"}},
      {"negative count",
       negative,
       0,
       table.size(),
       Outcome::NotATable,
       {"424 bytes", "-1 entries"}},
      {"one entry more than it holds",
       overClaim,
       0,
       table.size(),
       Outcome::NotATable,
       {"424 bytes", "4 entries", "556 bytes"}},
      {"a count no size could hold",
       hugeClaim,
       0,
       table.size(),
       Outcome::NotATable,
       {"424 bytes", "2147483647 entries"}},
      {"a region past the end of its file",
       prefix + tableText,
       100,
       table.size() + 1,
       Outcome::Unreadable,
       {"cannot be read"}},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFile(dir / "t.pit", c.file);
    const OpenedFile file = OpenRegularFile(dir / "t.pit");
    ASSERT_TRUE(file) << file.error;
    const PitFileRead read = ReadPitTableAt(file.fd.Get(), c.offset, c.size);
    EXPECT_EQ(read.outcome, c.outcome) << read.problem;
    if (c.outcome == Outcome::Table) {
      EXPECT_EQ(std::string(read.bytes.begin(), read.bytes.end()), c.file.substr(c.offset));
      EXPECT_EQ(read.problem, "");
    } else {
      EXPECT_TRUE(read.bytes.empty());
    }
    for (const std::string& word : c.said) {
      EXPECT_NE(read.problem.find(word), std::string::npos) << read.problem;
    }
  }

  // A file larger than any table, whose header counts entries it really holds: refused by its
  // size alone (the file is sparse; were it read whole, the test would take gigabytes).
  test::WriteFile(dir / "big.pit", tableText);
  std::filesystem::resize_file(dir / "big.pit", uint64_t{3} << 30);
  const OpenedFile big = OpenRegularFile(dir / "big.pit");
  ASSERT_TRUE(big) << big.error;
  const PitFileRead read = ReadPitTableAt(big.fd.Get(), 0, big.size);
  EXPECT_EQ(read.outcome, Outcome::NotATable);
  EXPECT_NE(read.problem.find("3221225472 bytes"), std::string::npos) << read.problem;
  EXPECT_NE(read.problem.find("3 entries"), std::string::npos) << read.problem;
  EXPECT_EQ(PitTableProblem(table.data(), MAX_PIT_SIZE), "") << "the limit itself is allowed";
}

}  // namespace
}  // namespace mirk3
