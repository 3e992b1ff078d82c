// The options of one run, filled by the station at Start and copied whole into every engine.
// Flags are 32-bit integers: 0 off, anything else on.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "wire/package_slot.h"

namespace mirk3 {

struct DownloadOptions {
  int32_t FlashLock = 0;
  int32_t rtnForSprint = 0;
  int32_t RePartition = 0;
  int32_t AutoReboot = 0;
  int32_t FResetTime = 0;
  int32_t deviceInfo = 0;
  int32_t PhoneEFSClear = 0;
  int32_t PhoneBootUpdate = 0;
  int32_t NandErase = 0;
  int32_t TFlash = 0;
  std::array<int32_t, SLOT_COUNT> slotEnabled{};  // BL, AP, CP, CSC, UMS
  std::array<std::string, SLOT_COUNT> slotPath;
  std::string pitPath;
  int32_t FactoryResetTime = 1;  // seconds
  int32_t PacketSize = 1048576;  // bytes
};

}  // namespace mirk3
