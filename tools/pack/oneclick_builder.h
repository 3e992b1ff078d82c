// Builds One Click programs: a station program (mirk3-cli or mirk3) that carries its own
// packages, partition table and run options at the end of its file, so that a line operator
// gets one file that flashes phones with no package to pick. The station finds the 1468-byte
// trailer at the end of its own file and reads the packages from the offsets it gives.
//
// Layout: the program's bytes unchanged (an executable still runs with bytes appended), then
// each package slot's tar data in slot order (BL, AP, CP, CSC, UMS), then the partition table,
// then the trailer. Slot types: 1 a plain tar and 3 a ".tar.md5", both copied unchanged; 4 a
// tar whose members this builder compresses (see deflated_tar.h). The trailer's offsets and
// lengths are 32-bit, so everything before it must fit in 4 GiB less one byte.
//
// Packages are checked before anything is written: every tar must walk cleanly, a ".tar.md5"
// must match its MD5 trailer (the station checks it only when an operator picks the file, never
// in One Click mode), and member names the station would refuse (sent members of more than 31
// bytes) are refused here. The output appears whole or not at all.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "wire/one_click_trailer.h"

namespace mirk3::pack {

// The most bytes the program, packages and partition table may take together.
inline constexpr uint64_t ONECLICK_CONTENT_LIMIT = UINT32_MAX;

struct OneClickPackage {
  std::string path;  // empty: the slot carries nothing
  int16_t type = 0;  // 1, 3 or 4; 0 chooses by the name (see DefaultOneClickType)
};

struct OneClickRequest {
  std::string programPath;
  std::array<OneClickPackage, SLOT_COUNT> packages;  // indexed by PackageSlot
  std::string pitPath;                               // empty: no partition table
  bool rePartition = false;
  bool autoReboot = true;
  bool efsClear = false;
  bool bootUpdate = false;
  std::string outPath;
  uint64_t contentLimit = ONECLICK_CONTENT_LIMIT;  // lowered only by tests
};

// The slot type of a package given without one: 3 for a ".tar.md5", 1 otherwise.
int16_t DefaultOneClickType(std::string_view path);

// Writes the One Click program at outPath (mode 0755) and leaves in `trailer` what its last
// 1468 bytes hold. On failure nothing new is left at outPath (a file already there stays as it
// was) and `error` says why.
bool BuildOneClick(const OneClickRequest& request, OneClickTrailer& trailer, std::string& error);

}  // namespace mirk3::pack
