#include "wire/device_info_record.h"

#include <algorithm>

#include "base/le.h"
#include "base/text.h"
#include "wire/request_table.h"

namespace mirk3 {

std::vector<uint8_t> BuildDeviceInfo(const std::vector<DeviceInfoItem>& items, uint32_t magic) {
  size_t size = DEVINFO_ITEMS_BASE + DEVINFO_DESCRIPTOR_SIZE * items.size();
  for (const DeviceInfoItem& item : items) size += item.text.size() + 1;
  size = std::max<size_t>(1, (size + PIECE_SIZE - 1) / PIECE_SIZE) * PIECE_SIZE;

  std::vector<uint8_t> record(size, 0);
  PutLe32(&record[DEVINFO_MAGIC_OFFSET], magic);
  PutLe32(&record[DEVINFO_COUNT_OFFSET], static_cast<uint32_t>(items.size()));
  size_t data = DEVINFO_DESCRIPTOR_SIZE * items.size();  // from DEVINFO_ITEMS_BASE
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string& text = items[i].text;
    uint8_t* descriptor = &record[DEVINFO_ITEMS_BASE + DEVINFO_DESCRIPTOR_SIZE * i];
    PutLe32(descriptor + DEVINFO_DESCRIPTOR_TYPE, items[i].type);
    PutLe32(descriptor + DEVINFO_DESCRIPTOR_OFFSET, static_cast<uint32_t>(data));
    PutLe32(descriptor + DEVINFO_DESCRIPTOR_LENGTH, static_cast<uint32_t>(text.size() + 1));
    std::copy(text.begin(), text.end(),
              record.begin() + static_cast<long>(DEVINFO_ITEMS_BASE + data));
    data += text.size() + 1;
  }
  return record;
}

uint32_t DeviceInfoView::Magic() const {
  return record_.size() >= DEVINFO_MAGIC_OFFSET + 4 ? GetLe32(&record_[DEVINFO_MAGIC_OFFSET]) : 0;
}

std::vector<DeviceInfoDescriptor> DeviceInfoView::Descriptors() const {
  if (record_.size() < DEVINFO_ITEMS_BASE) return {};
  const uint32_t count = GetLe32(&record_[DEVINFO_COUNT_OFFSET]);
  const size_t fitting = (record_.size() - DEVINFO_ITEMS_BASE) / DEVINFO_DESCRIPTOR_SIZE;
  std::vector<DeviceInfoDescriptor> descriptors;
  for (size_t i = 0; i < count && i < fitting; ++i) {
    const uint8_t* at = &record_[DEVINFO_ITEMS_BASE + DEVINFO_DESCRIPTOR_SIZE * i];
    descriptors.push_back({GetLe32(at + DEVINFO_DESCRIPTOR_TYPE),
                           GetLe32(at + DEVINFO_DESCRIPTOR_OFFSET),
                           GetLe32(at + DEVINFO_DESCRIPTOR_LENGTH)});
  }
  return descriptors;
}

std::optional<std::string> DeviceInfoView::ItemText(const DeviceInfoDescriptor& item) const {
  const uint64_t start = uint64_t{DEVINFO_ITEMS_BASE} + item.offset;
  if (start >= record_.size()) return std::nullopt;
  const char* begin = reinterpret_cast<const char*>(record_.data() + start);
  return std::string(FieldText(begin, record_.size() - static_cast<size_t>(start)));
}

}  // namespace mirk3
