// The records the package subsystem and the download engine share: the five package slots in
// their fixed order, the DownloadEntry that describes one member to send, and the One Click
// trailer at the end of a program that carries its own packages.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirk3 {

// Package slots, always in this order: in the window, the options, the trailer and on the wire.
enum PackageSlot : int { BL = 0, AP = 1, CP = 2, CSC = 3, UMS = 4 };
inline constexpr int SLOT_COUNT = 5;
inline constexpr std::array<const char*, SLOT_COUNT> SLOT_NAMES = {"BL", "AP", "CP", "CSC", "UMS"};

inline constexpr int32_t PARTITION_UNMATCHED = INT32_MIN;  // 0x80000000
inline constexpr size_t ENTRY_NAME_SIZE = 32;

// One package member to send; the partition-table step later fills the partition fields.
struct DownloadEntry {
  uint32_t entryKind = 0;
  uint32_t storageKind = 0;
  int32_t partitionId = PARTITION_UNMATCHED;  // negative: not matched to a partition yet
  uint32_t attributes = 0;
  uint32_t blockParam = 0;
  uint32_t word6 = 0;
  uint64_t dataOffset = 0;    // position of the member's data, just after its 512-byte header
  uint64_t size = 0;          // size field of the member's header
  uint64_t inflatedSize = 0;  // compressed slots only: the member's size once inflated
  char partitionName[ENTRY_NAME_SIZE] = {};
  char fileName[ENTRY_NAME_SIZE] = {};  // member name, at most 31 bytes and a NUL
  char auxName[ENTRY_NAME_SIZE] = {};

  bool Matched() const { return partitionId >= 0; }
};

// One Click slot types: how a carried package is walked.
enum OneClickSlotType : int16_t {
  ONECLICK_TAR = 1,           // plain tar
  ONECLICK_TAR_MD5 = 3,       // tar followed by an MD5 trailer
  ONECLICK_TAR_DEFLATED = 4,  // tar whose member data are zlib streams
};

inline constexpr size_t ONECLICK_TRAILER_SIZE = 1468;
inline constexpr size_t ONECLICK_SLOT_RECORD_SIZE = 268;
inline constexpr size_t ONECLICK_TITLE_OFFSET = 1396;
inline constexpr size_t ONECLICK_TITLE_BYTES = 64;  // UTF-16LE, NUL-terminated
inline constexpr char ONECLICK_TITLE[] = "Mirk3 One Click Download";
inline constexpr std::array<size_t, SLOT_COUNT> ONECLICK_SLOT_OFFSETS = {12, 280, 556, 824, 1092};

struct OneClickSlot {
  uint32_t offset = 0;  // of the slot's tar data in the executable
  uint32_t length = 0;  // 0: the slot is empty, whatever its offset and type
  int16_t type = 0;
  bool Present() const { return length != 0; }
};

// The last 1468 bytes of a One Click program, little-endian.
struct OneClickTrailer {
  uint32_t pitOffset = 0;
  uint32_t pitSize = 0;
  uint32_t rePartition = 0;
  uint32_t phoneBootUpdate = 0;
  uint32_t phoneEfsClear = 0;
  uint32_t autoReboot = 0;
  std::array<OneClickSlot, SLOT_COUNT> slots{};
  std::u16string title;

  // Parses the 1468 bytes; never fails (a wrong title simply leaves the mode off).
  static OneClickTrailer Parse(const uint8_t* bytes);
  // Writes the 1468 bytes as a One Click program carries them.
  std::array<uint8_t, ONECLICK_TRAILER_SIZE> Encode() const;
  // True when the title is exactly "Mirk3 One Click Download".
  bool TitleMatches() const;
};

// The trailer of the program file at `path` when it is a One Click program (its title
// matches); nothing for any other file or one that cannot be read.
std::optional<OneClickTrailer> ReadOneClickTrailer(const std::string& path);

}  // namespace mirk3
