// Fuzzes the partition table wherever its bytes come from outside: a phone's table as the
// station parses and shows it, and a ".pit" file (or a package's table member) as the station
// proves and reads it before writing it to a phone. The input is the table; the file is read
// whole, from an offset, and as a region that claims more bytes than the file holds.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "cli/cli_pit.h"
#include "engine/pit_file.h"
#include "support/fuzz_target.h"
#include "support/scratch_dir.h"
#include "wire/pit_record.h"

namespace {

using mirk3::fuzz::Require;

void CheckParse(const uint8_t* data, size_t size) {
  const mirk3::PitTable table = mirk3::ParsePitTable(data, size);
  const int32_t claimed = table.header.EntryCount();
  Require(size >= mirk3::PIT_HEADER_SIZE || table.entries.empty(), "a headless table has entries");
  const size_t room =
      size < mirk3::PIT_HEADER_SIZE ? 0 : (size - mirk3::PIT_HEADER_SIZE) / mirk3::PIT_ENTRY_SIZE;
  Require(table.entries.size() <= room, "more entries than the bytes hold");
  Require(claimed > 0 || table.entries.empty(), "entries from a count of none");
  Require(claimed <= 0 || table.entries.size() == std::min<size_t>(room, claimed),
          "entries that fit whole are not all read");
  for (const mirk3::PitEntry& entry : table.entries) {
    Require(entry.FileName().size() < mirk3::PIT_NAME_SIZE + 1, "a name past its field");
  }
  // What is read is what was there: the entries encode back to the bytes they came from.
  if (!table.entries.empty()) {
    const std::vector<uint8_t> again = mirk3::EncodePitTable(table);
    Require(std::memcmp(again.data() + mirk3::PIT_HEADER_SIZE, data + mirk3::PIT_HEADER_SIZE,
                        again.size() - mirk3::PIT_HEADER_SIZE) == 0,
            "an entry does not encode back to its bytes");
  }
  const std::string shown = mirk3::DescribePitTable(std::vector<uint8_t>(data, data + size));
  Require(!shown.empty(), "a table shown as nothing");
}

// The region [offset, offset + claimed) of the file holding `data`.
void CheckFileRegion(int fd, const uint8_t* data, size_t size, uint64_t offset, uint64_t claimed) {
  const mirk3::PitFileRead read = mirk3::ReadPitTableAt(fd, offset, claimed);
  using Outcome = mirk3::PitFileRead::Outcome;
  const bool inside = offset <= size && claimed <= size - offset;
  if (read.outcome != Outcome::Table) {
    Require(!read.problem.empty(), "a refusal without a reason");
    Require(read.bytes.empty(), "a refusal with bytes");
    return;
  }
  Require(inside, "a table read from beyond the file's end");
  Require(read.problem.empty(), "a table with a problem");
  Require(read.bytes.size() == claimed, "a table of another size than its region");
  Require(std::memcmp(read.bytes.data(), data + offset, claimed) == 0,
          "a table that is not the file's bytes");
  Require(mirk3::PitTableProblem(data + offset, claimed).empty(), "a table its own proof refuses");
  const mirk3::PitTable table = mirk3::ParsePitTable(read.bytes.data(), read.bytes.size());
  Require(table.header.EntryCount() >= 1 &&
              table.entries.size() == static_cast<size_t>(table.header.EntryCount()),
          "a proven table whose entries are not all there");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckParse(data, size);
  const std::string path = mirk3::fuzz::WriteScratchFile("table.pit", data, size);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) std::abort();
  CheckFileRegion(fd, data, size, 0, size);
  if (size > 0) {
    const uint64_t offset = data[0] % (size + 1);
    CheckFileRegion(fd, data, size, offset, size - offset);
    CheckFileRegion(fd, data, size, offset, size - offset + 1 + data[0]);
  }
  ::close(fd);
  return 0;
}
