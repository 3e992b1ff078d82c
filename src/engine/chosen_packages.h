// The packages one download reads and sends: in file mode the package files of the slots the
// operator enabled, in One Click mode the slots the program carries within its own file. Which
// slots take part is asked here and nowhere else, by file analysis, the meta-data check and the
// firmware update alike.
#pragma once

#include <string>

#include "engine/download_options.h"
#include "base/file.h"
#include "wire/one_click_trailer.h"
#include "wire/package_slot.h"

namespace mirk3 {

struct ChosenPackages {
  const DownloadOptions& options;  // the slot flags and package paths of file mode
  // One Click mode: the program's trailer, its path and its open file; none in file mode.
  const OneClickTrailer* trailer = nullptr;
  const std::string& program;
  BorrowedFd programFd;  // the engine owns it

  bool OneClick() const { return trailer != nullptr; }
  // The slot takes part: the operator enabled it, or the program carries a package in it.
  bool Chosen(int slot) const {
    return trailer ? trailer->slots[slot].Present() : options.slotEnabled[slot] != 0;
  }
  // The file that holds the slot's package: its own, or the program.
  const std::string& Package(int slot) const { return trailer ? program : options.slotPath[slot]; }
};

}  // namespace mirk3
