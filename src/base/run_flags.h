// The option flags of a run, one record wherever they live: the settings give their first
// states, the station holds them as the operator's check boxes, and every engine gets them in
// its DownloadOptions. A flag is a 32-bit integer: 0 off, anything else on. A new option is a
// field here and the line of the settings that reads it.
#pragma once

#include <cstdint>

namespace mirk3 {

// The packet size a run asks of the phone unless the settings say otherwise.
inline constexpr int32_t DEFAULT_RUN_PACKET_SIZE = 1048576;

struct RunFlags {
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

  bool operator==(const RunFlags&) const = default;
};

}  // namespace mirk3
