// A partition table read from a file before it is written to a device: the proof a file must
// give, and the refusal that says what was found instead.
#include "engine/pit_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/file.h"
#include "base/le.h"
#include "support/sample_pit.h"
#include "support/succeeded.h"
#include "support/temp_dir.h"
#include "wire/pit_record.h"

namespace mirk3 {
namespace {

TEST(PitFileTest, OnlyTablesAreReadFromFilesAndTheRefusalSaysWhatWasFound) {
  using Outcome = PitFileRead::Outcome;
  PitTable three;
  three.entries = {test::SamplePitEntry(1, "a"), test::SamplePitEntry(2, "b"),
                   test::SamplePitEntry(3, "c")};
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
    const Result<OpenedFile> file = OpenRegularFile(dir / "t.pit");
    ASSERT_TRUE(test::Succeeded(file));
    const PitFileRead read = ReadPitTableAt(file->fd.Get(), c.offset, c.size);
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
  const Result<OpenedFile> big = OpenRegularFile(dir / "big.pit");
  ASSERT_TRUE(test::Succeeded(big));
  const PitFileRead read = ReadPitTableAt(big->fd.Get(), 0, big->size);
  EXPECT_EQ(read.outcome, Outcome::NotATable);
  EXPECT_NE(read.problem.find("3221225472 bytes"), std::string::npos) << read.problem;
  EXPECT_NE(read.problem.find("3 entries"), std::string::npos) << read.problem;
  EXPECT_EQ(PitTableProblem(table.data(), MAX_PIT_SIZE), "") << "the limit itself is allowed";
}

}  // namespace
}  // namespace mirk3
