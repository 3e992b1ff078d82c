// Fuzzes the device-information record as a phone hands it out: the view the device-info
// check reads it through. Whatever the count and the offsets claim, every descriptor read lies
// inside the record, and every item text is the record's own bytes up to a NUL or its end.
// The record the emulated phone builds from the texts read back is read back as those texts.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/le.h"
#include "support/fuzz_target.h"
#include "wire/device_info_record.h"

namespace {

using mirk3::fuzz::Require;

void CheckView(const std::vector<uint8_t>& record) {
  const mirk3::DeviceInfoView view(record);
  Require(record.size() >= 4 || view.Magic() == 0, "a magic word from a record too short");
  const auto descriptors = view.Descriptors();
  const uint32_t count =
      record.size() >= mirk3::DEVINFO_ITEMS_BASE ? mirk3::GetLe32(&record[4]) : 0;
  Require(descriptors.size() <= count, "more descriptors than counted");
  Require(descriptors.empty() ||
              mirk3::DEVINFO_ITEMS_BASE + mirk3::DEVINFO_DESCRIPTOR_SIZE * descriptors.size() <=
                  record.size(),
          "a descriptor past the record's end");
  for (size_t i = 0; i < descriptors.size(); ++i) {
    const uint8_t* at = &record[mirk3::DEVINFO_ITEMS_BASE + mirk3::DEVINFO_DESCRIPTOR_SIZE * i];
    Require(descriptors[i].type == mirk3::GetLe32(at) &&
                descriptors[i].offset == mirk3::GetLe32(at + 4),
            "a descriptor that is not its bytes");
    const std::optional<std::string> text = view.ItemText(descriptors[i]);
    const uint64_t start = uint64_t{mirk3::DEVINFO_ITEMS_BASE} + descriptors[i].offset;
    if (!text) {
      Require(start >= record.size(), "an item inside the record without its text");
      continue;
    }
    Require(start < record.size() && text->size() <= record.size() - start,
            "an item text past the record's end");
    Require(std::memcmp(text->data(), &record[start], text->size()) == 0,
            "an item text that is not the record's bytes");
    Require(text->find('\0') == std::string::npos, "an item text past its NUL");
  }
}

// The input cut into texts at its NULs, the first of them the model.
void CheckBuilt(const uint8_t* data, size_t size) {
  std::vector<mirk3::DeviceInfoItem> items;
  const char* text = reinterpret_cast<const char*>(data);
  for (size_t at = 0; at < size && items.size() < 16;) {
    const size_t length = strnlen(text + at, size - at);
    items.push_back({items.empty() ? mirk3::DEVINFO_ITEM_MODEL : mirk3::DEVINFO_ITEM_TEXT,
                     std::string(text + at, length)});
    at += length + 1;
  }
  const std::vector<uint8_t> record = mirk3::BuildDeviceInfo(items);
  Require(record.size() % 500 == 0, "a built record not in whole pieces");
  const mirk3::DeviceInfoView view(record);
  Require(view.Magic() == mirk3::DEVINFO_MAGIC, "a built record without its magic");
  const auto descriptors = view.Descriptors();
  Require(descriptors.size() == items.size(), "a built record that lost an item");
  for (size_t i = 0; i < items.size(); ++i) {
    Require(descriptors[i].type == items[i].type && view.ItemText(descriptors[i]) == items[i].text,
            "a built item that does not read back");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckView(std::vector<uint8_t>(data, data + size));
  CheckBuilt(data, size);
  return 0;
}
