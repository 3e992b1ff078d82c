// The device-information record a boot loader hands out in 500-byte pieces: a magic word, an
// item count, descriptors {type, offset, length} and the item data, padded with zeros to a
// multiple of 500 bytes. An item's offset counts from byte 8 of the record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/protocol.h"

namespace mirk3::devsim {

struct DeviceInfoItem {
  uint32_t type = DEVINFO_ITEM_TEXT;
  std::string text;  // stored with a terminating NUL; the descriptor's length counts it
};

std::vector<uint8_t> BuildDeviceInfo(const std::vector<DeviceInfoItem>& items,
                                     uint32_t magic = DEVINFO_MAGIC);

}  // namespace mirk3::devsim
