// Partition tables read from files before they are written to a device: the proof that a
// region of a file is a table, and the read that takes no more of a file than that proof
// allows. The records themselves are wire/pit_record.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wire/pit_record.h"

namespace mirk3 {

// Why `size` bytes cannot be a partition table worth writing to a device, judged from their
// size and their header (`head`: the first min(size, PIT_HEADER_SIZE) bytes); "" when they can.
// A table holds its whole header, at least one entry and every entry its header counts, and is
// no larger than MAX_PIT_SIZE. Bytes after the counted entries are allowed: they travel too.
// The words name the size and the count, so a log line can show what was found.
std::string PitTableProblem(const uint8_t* head, uint64_t size);

// A partition table read from a region of a file, or why none was.
struct PitFileRead {
  enum class Outcome { Table, NotATable, Unreadable };
  Outcome outcome = Outcome::Unreadable;
  std::vector<uint8_t> bytes;  // the whole region when it holds a table
  std::string problem;         // why not, when it does not
};

// Reads the `size` bytes at `offset` of `fd` when they hold a table: the header first, the rest
// only once the header shows a table, so a large file that is not one is never read whole.
PitFileRead ReadPitTableAt(int fd, uint64_t offset, uint64_t size);

}  // namespace mirk3
