// One Click programs for tests: built with mirk3-pack's builder from a station program and
// packages, and read back the way the station reads them (the trailer at the end, the members
// of a slot within the slot's region), so that tests can check or damage a carried member.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wire/one_click_trailer.h"

namespace mirk3::test {

struct OneClickSlotPackage {
  int slot = 0;      // PackageSlot
  std::string path;  // a .tar or .tar.md5
  int16_t type = 0;  // 1, 3 or 4; 0 lets the builder choose by the name
};

struct OneClickContents {
  std::string programPath = MIRK3_BIN_DIR "/mirk3-cli";
  std::vector<OneClickSlotPackage> packages;
  std::string pitPath;
  bool rePartition = false;
  bool autoReboot = true;
  bool efsClear = false;
  bool bootUpdate = false;
};

// Builds the program at `outPath` and returns the trailer it ends with; a test failure when
// the builder refuses.
OneClickTrailer WriteOneClickProgram(const std::string& outPath, const OneClickContents& contents);

// The trailer at the end of the file at `path`, read as the station reads it (an empty trailer
// when the file is not a One Click program).
OneClickTrailer ReadOneClickTrailer(const std::string& path);

struct OneClickMember {
  std::string name;
  uint64_t headerOffset = 0;  // positions in the program file
  uint64_t dataOffset = 0;
  uint64_t storedSize = 0;    // the header's size field
  uint64_t inflatedSize = 0;  // header bytes 500-511; 0 when they hold nothing
};

// The members of `slot` of the One Click program at `path`, up to its end-of-archive block.
std::vector<OneClickMember> OneClickMembers(const std::string& path, int slot);

// The member's contents: its stored bytes, inflated when `inflate` (a zlib stream). A test
// failure when they cannot be read or inflated.
std::string OneClickMemberContents(const std::string& path, const OneClickMember& member,
                                   bool inflate);

// Flips 16 bytes in the middle of the stored data of member `name` of `slot`; false when the
// slot has no such member or its data are shorter than 16 bytes.
bool DamageOneClickMember(const std::string& path, int slot, const std::string& name);

}  // namespace mirk3::test
