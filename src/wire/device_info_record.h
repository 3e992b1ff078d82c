// The device-information record a boot loader hands out in 500-byte pieces: a magic word, an
// item count, one descriptor {type, offset, length} per item, then the items' data. An item's
// offset counts from byte 8 of the record, where the descriptors begin; item texts end at their
// NUL. The record is zero-padded to a multiple of the piece size. The phone builds it, the host
// reads it: both through this one definition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mirk3 {

inline constexpr uint32_t DEVINFO_MAGIC = 0x12345678;
inline constexpr size_t DEVINFO_MAGIC_OFFSET = 0;
inline constexpr size_t DEVINFO_COUNT_OFFSET = 4;
// The descriptors start here, and every item's offset counts from here.
inline constexpr size_t DEVINFO_ITEMS_BASE = 8;
inline constexpr size_t DEVINFO_DESCRIPTOR_SIZE = 12;
inline constexpr size_t DEVINFO_DESCRIPTOR_TYPE = 0;    // within a descriptor
inline constexpr size_t DEVINFO_DESCRIPTOR_OFFSET = 4;  // within a descriptor
inline constexpr size_t DEVINFO_DESCRIPTOR_LENGTH = 8;  // within a descriptor; not read by hosts

inline constexpr uint32_t DEVINFO_ITEM_MODEL = 0;  // the model name the packages must be for
inline constexpr uint32_t DEVINFO_ITEM_TEXT = 1;   // any other text; other types are ignored too

static_assert(DEVINFO_COUNT_OFFSET == DEVINFO_MAGIC_OFFSET + 4);
static_assert(DEVINFO_ITEMS_BASE == DEVINFO_COUNT_OFFSET + 4);
static_assert(DEVINFO_DESCRIPTOR_SIZE == DEVINFO_DESCRIPTOR_LENGTH + 4);

// One item as a phone describes itself.
struct DeviceInfoItem {
  uint32_t type = DEVINFO_ITEM_TEXT;
  std::string text;  // stored with a terminating NUL; the descriptor's length counts it
};

// The record a phone hands out for `items`, in their order, padded to whole pieces.
std::vector<uint8_t> BuildDeviceInfo(const std::vector<DeviceInfoItem>& items,
                                     uint32_t magic = DEVINFO_MAGIC);

struct DeviceInfoDescriptor {
  uint32_t type = 0;
  uint32_t offset = 0;  // from DEVINFO_ITEMS_BASE
  uint32_t length = 0;
};

// A received record, read without ever reaching past its bytes.
class DeviceInfoView {
 public:
  explicit DeviceInfoView(const std::vector<uint8_t>& record) : record_(record) {}

  // The first word; 0 for a record too short to hold one.
  uint32_t Magic() const;
  // The descriptors the count claims, as far as they lie inside the record.
  std::vector<DeviceInfoDescriptor> Descriptors() const;
  // The item's text up to its NUL or the record's end; nothing when it starts past the end.
  std::optional<std::string> ItemText(const DeviceInfoDescriptor& item) const;

 private:
  const std::vector<uint8_t>& record_;
};

}  // namespace mirk3
