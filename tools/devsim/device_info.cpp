#include "devsim/device_info.h"

#include <algorithm>

#include "base/le.h"

namespace mirk3::devsim {

std::vector<uint8_t> BuildDeviceInfo(const std::vector<DeviceInfoItem>& items, uint32_t magic) {
  constexpr size_t kItemsBase = 8;  // offsets count from here
  constexpr size_t kDescriptorSize = 12;
  size_t size = kItemsBase + kDescriptorSize * items.size();
  for (const DeviceInfoItem& item : items) size += item.text.size() + 1;
  size = std::max<size_t>(1, (size + PIECE_SIZE - 1) / PIECE_SIZE) * PIECE_SIZE;

  std::vector<uint8_t> record(size, 0);
  PutLe32(&record[0], magic);
  PutLe32(&record[4], static_cast<uint32_t>(items.size()));
  size_t data = kDescriptorSize * items.size();  // relative to kItemsBase
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string& text = items[i].text;
    uint8_t* descriptor = &record[kItemsBase + kDescriptorSize * i];
    PutLe32(descriptor, items[i].type);
    PutLe32(descriptor + 4, static_cast<uint32_t>(data));
    PutLe32(descriptor + 8, static_cast<uint32_t>(text.size() + 1));
    std::copy(text.begin(), text.end(), record.begin() + static_cast<long>(kItemsBase + data));
    data += text.size() + 1;
  }
  return record;
}

}  // namespace mirk3::devsim
