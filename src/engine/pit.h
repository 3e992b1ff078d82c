// The partition table (PIT) as it travels between the station and a boot loader and as it sits
// in a ".pit" file: a 28-byte header of seven words, word 1 the entry count, followed by
// 132-byte entries. The station parses tables it receives; the emulated boot loader builds
// and parses them too. All words are little-endian; records go through base/le.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/protocol.h"

namespace mirk3 {

inline constexpr int PIT_HEADER_WORDS = 7;
// Partition tables are a few KiB; no device or file holds one anywhere near this size.
inline constexpr uint64_t MAX_PIT_SIZE = 16u << 20;
inline constexpr int PIT_HEADER_COUNT_WORD = 1;

struct PitHeader {
  std::array<uint32_t, PIT_HEADER_WORDS> words{};

  // Word 1, signed: a table may claim a negative count, which means no entries.
  int32_t EntryCount() const { return static_cast<int32_t>(words[PIT_HEADER_COUNT_WORD]); }

  void Encode(uint8_t* bytes) const;              // PIT_HEADER_SIZE bytes
  static PitHeader Decode(const uint8_t* bytes);  // PIT_HEADER_SIZE bytes
};

struct PitEntry {
  uint32_t entryKind = 0;
  uint32_t storageKind = 0;  // chooses the transfer sequence size
  int32_t partitionId = 0;
  uint32_t attributes = 0;
  uint32_t word4 = 0;
  uint32_t blockParam = 0;
  uint32_t word6 = 0;
  uint32_t word7 = 0;
  uint32_t word8 = 0;
  // NUL-terminated within their 32 bytes; a name of exactly 32 bytes has no NUL.
  char partitionName[PIT_NAME_SIZE] = {};
  char fileName[PIT_NAME_SIZE] = {};
  char auxName[PIT_NAME_SIZE] = {};

  std::string_view PartitionName() const;
  std::string_view FileName() const;
  std::string_view AuxName() const;
  // Names longer than 31 bytes are cut so that the NUL fits.
  void SetPartitionName(std::string_view name);
  void SetFileName(std::string_view name);
  void SetAuxName(std::string_view name);

  void Encode(uint8_t* bytes) const;             // PIT_ENTRY_SIZE bytes
  static PitEntry Decode(const uint8_t* bytes);  // PIT_ENTRY_SIZE bytes
};

struct PitTable {
  PitHeader header;
  std::vector<PitEntry> entries;

  // The first entry with this id, or nullptr.
  const PitEntry* FindById(int32_t partitionId) const;
};

// Parses a table of `size` received bytes without ever reading past them. A table smaller
// than its header has no entries (and a zero header); a count larger than the bytes hold
// yields only the entries that fit whole; a negative count yields none. The header keeps the
// count as claimed, so a caller can tell that the table was cut.
PitTable ParsePitTable(const uint8_t* bytes, size_t size);

// The bytes of a whole table; header word 1 is set to the number of entries.
std::vector<uint8_t> EncodePitTable(const PitTable& table);

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
