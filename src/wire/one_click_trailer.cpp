#include "wire/one_click_trailer.h"

#include <string_view>

#include "base/le.h"

namespace mirk3 {
namespace {

OneClickSlot ParseSlot(const uint8_t* record) {
  OneClickSlot slot;
  slot.offset = GetLe32(record + ONECLICK_SLOT_DATA_OFFSET_AT);
  slot.length = GetLe32(record + ONECLICK_SLOT_LENGTH_AT);
  slot.type = static_cast<int16_t>(GetLe16(record + ONECLICK_SLOT_TYPE_AT));
  return slot;
}

void EncodeSlot(const OneClickSlot& slot, uint8_t* record) {
  PutLe32(record + ONECLICK_SLOT_DATA_OFFSET_AT, slot.offset);
  PutLe32(record + ONECLICK_SLOT_LENGTH_AT, slot.length);
  PutLe16(record + ONECLICK_SLOT_TYPE_AT, static_cast<uint16_t>(slot.type));
}

}  // namespace

OneClickTrailer OneClickTrailer::Parse(const uint8_t* bytes) {
  OneClickTrailer trailer;
  trailer.pitOffset = GetLe32(bytes + ONECLICK_PIT_OFFSET_AT);
  trailer.pitSize = GetLe32(bytes + ONECLICK_PIT_SIZE_AT);
  trailer.rePartition = GetLe32(bytes + ONECLICK_REPARTITION_AT);
  trailer.phoneBootUpdate = GetLe32(bytes + ONECLICK_BOOT_UPDATE_AT);
  trailer.phoneEfsClear = GetLe32(bytes + ONECLICK_EFS_CLEAR_AT);
  trailer.autoReboot = GetLe32(bytes + ONECLICK_AUTO_REBOOT_AT);
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    trailer.slots[slot] = ParseSlot(bytes + ONECLICK_SLOT_AT[slot]);
  }
  // A title without NUL stops at the end of its field.
  for (size_t i = 0; i < ONECLICK_TITLE_BYTES; i += 2) {
    const char16_t c = static_cast<char16_t>(GetLe16(bytes + ONECLICK_TITLE_AT + i));
    if (c == 0) break;
    trailer.title.push_back(c);
  }
  return trailer;
}

std::array<uint8_t, ONECLICK_TRAILER_SIZE> OneClickTrailer::Encode() const {
  std::array<uint8_t, ONECLICK_TRAILER_SIZE> bytes{};
  PutLe32(&bytes[ONECLICK_PIT_OFFSET_AT], pitOffset);
  PutLe32(&bytes[ONECLICK_PIT_SIZE_AT], pitSize);
  PutLe32(&bytes[ONECLICK_REPARTITION_AT], rePartition);
  PutLe32(&bytes[ONECLICK_BOOT_UPDATE_AT], phoneBootUpdate);
  PutLe32(&bytes[ONECLICK_EFS_CLEAR_AT], phoneEfsClear);
  PutLe32(&bytes[ONECLICK_AUTO_REBOOT_AT], autoReboot);
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    EncodeSlot(slots[slot], &bytes[ONECLICK_SLOT_AT[slot]]);
  }
  const size_t maxChars = ONECLICK_TITLE_BYTES / 2 - 1;  // room for the NUL
  for (size_t i = 0; i < title.size() && i < maxChars; ++i) {
    PutLe16(&bytes[ONECLICK_TITLE_AT + 2 * i], static_cast<uint16_t>(title[i]));
  }
  return bytes;
}

bool OneClickTrailer::TitleMatches() const {
  const std::string_view expected = ONECLICK_TITLE;
  if (title.size() != expected.size()) return false;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (title[i] != static_cast<char16_t>(expected[i])) return false;
  }
  return true;
}

}  // namespace mirk3
