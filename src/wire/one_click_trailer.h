// The One Click trailer: the last 1468 bytes of a program that carries its own packages. It
// gives where the partition table and each slot's tar data lie in the program file, the run
// options the program imposes, and a title that switches the mode on. All integers are
// little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "wire/package_slot.h"

namespace mirk3 {

// One Click slot types: how a carried package is walked.
enum OneClickSlotType : int16_t {
  ONECLICK_TAR = 1,           // plain tar
  ONECLICK_TAR_MD5 = 3,       // tar followed by an MD5 trailer
  ONECLICK_TAR_DEFLATED = 4,  // tar whose member data are zlib streams
};

// Where each field sits, from the trailer's first byte.
inline constexpr size_t ONECLICK_TRAILER_SIZE = 1468;
inline constexpr size_t ONECLICK_PIT_OFFSET_AT = 0;
inline constexpr size_t ONECLICK_PIT_SIZE_AT = 4;
inline constexpr size_t ONECLICK_REPARTITION_AT = 8;
inline constexpr std::array<size_t, SLOT_COUNT> ONECLICK_SLOT_AT = {12, 280, 556, 824, 1092};
inline constexpr size_t ONECLICK_BOOT_UPDATE_AT = 548;  // between the AP and CP slot records
inline constexpr size_t ONECLICK_EFS_CLEAR_AT = 552;
inline constexpr size_t ONECLICK_TITLE_AT = 1396;
inline constexpr size_t ONECLICK_TITLE_BYTES = 64;  // UTF-16LE, NUL-terminated
inline constexpr size_t ONECLICK_AUTO_REBOOT_AT = 1460;
// The last 4 bytes are not read.

// A slot record: the tar data's offset, its length and the slot type, then a UTF-16 name that
// the station does not read.
inline constexpr size_t ONECLICK_SLOT_RECORD_SIZE = 268;
inline constexpr size_t ONECLICK_SLOT_DATA_OFFSET_AT = 0;
inline constexpr size_t ONECLICK_SLOT_LENGTH_AT = 4;
inline constexpr size_t ONECLICK_SLOT_TYPE_AT = 8;

inline constexpr char ONECLICK_TITLE[] = "Mirk3 One Click Download";

static_assert(ONECLICK_REPARTITION_AT + 4 == ONECLICK_SLOT_AT[BL]);
static_assert(ONECLICK_SLOT_AT[AP] == ONECLICK_SLOT_AT[BL] + ONECLICK_SLOT_RECORD_SIZE);
static_assert(ONECLICK_BOOT_UPDATE_AT == ONECLICK_SLOT_AT[AP] + ONECLICK_SLOT_RECORD_SIZE);
static_assert(ONECLICK_EFS_CLEAR_AT == ONECLICK_BOOT_UPDATE_AT + 4);
static_assert(ONECLICK_SLOT_AT[CP] == ONECLICK_EFS_CLEAR_AT + 4);
static_assert(ONECLICK_SLOT_AT[CSC] == ONECLICK_SLOT_AT[CP] + ONECLICK_SLOT_RECORD_SIZE);
static_assert(ONECLICK_SLOT_AT[UMS] == ONECLICK_SLOT_AT[CSC] + ONECLICK_SLOT_RECORD_SIZE);
static_assert(ONECLICK_TITLE_AT >= ONECLICK_SLOT_AT[UMS] + ONECLICK_SLOT_RECORD_SIZE);
static_assert(ONECLICK_AUTO_REBOOT_AT == ONECLICK_TITLE_AT + ONECLICK_TITLE_BYTES);
static_assert(ONECLICK_TRAILER_SIZE == ONECLICK_AUTO_REBOOT_AT + 4 + 4);
static_assert(sizeof ONECLICK_TITLE <= ONECLICK_TITLE_BYTES / 2);

struct OneClickSlot {
  uint32_t offset = 0;  // of the slot's tar data in the program file
  uint32_t length = 0;  // 0: the slot is empty, whatever its offset and type
  int16_t type = 0;     // OneClickSlotType
  bool Present() const { return length != 0; }
};

struct OneClickTrailer {
  uint32_t pitOffset = 0;        // of the partition table in the program file
  uint32_t pitSize = 0;          // its length in bytes
  uint32_t rePartition = 0;      // becomes the RePartition option
  uint32_t phoneBootUpdate = 0;  // becomes the PhoneBootUpdate option
  uint32_t phoneEfsClear = 0;    // becomes the PhoneEFSClear option
  uint32_t autoReboot = 0;       // becomes the AutoReboot option
  std::array<OneClickSlot, SLOT_COUNT> slots{};
  std::u16string title;  // the mode is on only when it is exactly ONECLICK_TITLE

  // Parses the 1468 bytes; never fails (a wrong title simply leaves the mode off).
  static OneClickTrailer Parse(const uint8_t* bytes);
  // Writes the 1468 bytes as a One Click program carries them.
  std::array<uint8_t, ONECLICK_TRAILER_SIZE> Encode() const;
  // True when the title is exactly "Mirk3 One Click Download".
  bool TitleMatches() const;
};

}  // namespace mirk3
