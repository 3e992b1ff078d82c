// The partition table (PIT) as it travels between the station and a boot loader and as it sits
// in a ".pit" file: a 28-byte header of seven words, word 1 the entry count, followed by
// 132-byte entries of nine words and three 32-byte names. The station parses the tables it
// receives; the emulated boot loader builds and parses them too. All words are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace mirk3 {

inline constexpr int PIT_HEADER_WORDS = 7;
inline constexpr int PIT_HEADER_COUNT_WORD = 1;  // the others are carried, never read
inline constexpr int PIT_HEADER_SIZE = 28;
inline constexpr int PIT_ENTRY_WORDS = 9;
inline constexpr int PIT_NAME_SIZE = 32;
inline constexpr int PIT_PARTITION_NAME_OFFSET = 36;
inline constexpr int PIT_FILE_NAME_OFFSET = 68;
inline constexpr int PIT_AUX_NAME_OFFSET = 100;
inline constexpr int PIT_ENTRY_SIZE = 132;
// Partition tables are a few KiB; no device or file holds one anywhere near this size.
inline constexpr uint64_t MAX_PIT_SIZE = 16u << 20;

static_assert(PIT_HEADER_SIZE == 4 * PIT_HEADER_WORDS);
static_assert(PIT_PARTITION_NAME_OFFSET == 4 * PIT_ENTRY_WORDS);
static_assert(PIT_FILE_NAME_OFFSET == PIT_PARTITION_NAME_OFFSET + PIT_NAME_SIZE);
static_assert(PIT_AUX_NAME_OFFSET == PIT_FILE_NAME_OFFSET + PIT_NAME_SIZE);
static_assert(PIT_ENTRY_SIZE == PIT_AUX_NAME_OFFSET + PIT_NAME_SIZE);

struct PitHeader {
  std::array<uint32_t, PIT_HEADER_WORDS> words{};

  // Word 1, signed: a table may claim a negative count, which means no entries.
  int32_t EntryCount() const { return static_cast<int32_t>(words[PIT_HEADER_COUNT_WORD]); }

  void Encode(uint8_t* bytes) const;              // PIT_HEADER_SIZE bytes
  static PitHeader Decode(const uint8_t* bytes);  // PIT_HEADER_SIZE bytes
};

// The words in this order from byte 0, then the three names.
struct PitEntry {
  uint32_t entryKind = 0;    // sent back with the member's sequences
  uint32_t storageKind = 0;  // chooses the sequence size (sequence_size.h) and is sent back
  int32_t partitionId = 0;   // where the boot loader writes the member
  uint32_t attributes = 0;   // used in the computed sequence size
  uint32_t word4 = 0;        // not used by the station
  uint32_t blockParam = 0;   // used in the computed sequence size
  uint32_t word6 = 0;        // carried with the member, not interpreted
  uint32_t word7 = 0;        // not read
  uint32_t word8 = 0;        // not read
  // NUL-terminated within their 32 bytes; a name of exactly 32 bytes has no NUL.
  char partitionName[PIT_NAME_SIZE] = {};  // shown while the member is sent
  char fileName[PIT_NAME_SIZE] = {};       // matched against package member names
  char auxName[PIT_NAME_SIZE] = {};        // carried, not interpreted

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

}  // namespace mirk3
