// The options of one run, filled by the station at Start and copied whole into every engine:
// the run's flags, the package slots and paths, the PIT path and the two numbers.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "base/run_flags.h"
#include "wire/package_slot.h"

namespace mirk3 {

struct DownloadOptions : RunFlags {
  RunFlags& Flags() { return *this; }
  const RunFlags& Flags() const { return *this; }

  std::array<int32_t, SLOT_COUNT> slotEnabled{};  // BL, AP, CP, CSC, UMS
  std::array<std::string, SLOT_COUNT> slotPath;
  std::string pitPath;
  int32_t FactoryResetTime = 1;                  // seconds
  int32_t PacketSize = DEFAULT_RUN_PACKET_SIZE;  // bytes
};

}  // namespace mirk3
