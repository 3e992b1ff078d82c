#include "packages/package_records.h"

#include <fstream>

#include "base/le.h"

namespace mirk3 {

OneClickTrailer OneClickTrailer::Parse(const uint8_t* bytes) {
  OneClickTrailer trailer;
  trailer.pitOffset = GetLe32(bytes + 0);
  trailer.pitSize = GetLe32(bytes + 4);
  trailer.rePartition = GetLe32(bytes + 8);
  trailer.phoneBootUpdate = GetLe32(bytes + 548);
  trailer.phoneEfsClear = GetLe32(bytes + 552);
  trailer.autoReboot = GetLe32(bytes + 1460);
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    const uint8_t* record = bytes + ONECLICK_SLOT_OFFSETS[slot];
    trailer.slots[slot].offset = GetLe32(record);
    trailer.slots[slot].length = GetLe32(record + 4);
    trailer.slots[slot].type = static_cast<int16_t>(GetLe16(record + 8));
  }
  // The title field ends at offset 1460; a title without NUL stops there.
  for (size_t i = ONECLICK_TITLE_OFFSET; i + 1 < ONECLICK_TITLE_OFFSET + ONECLICK_TITLE_BYTES;
       i += 2) {
    const char16_t c = static_cast<char16_t>(GetLe16(bytes + i));
    if (c == 0) break;
    trailer.title.push_back(c);
  }
  return trailer;
}

std::array<uint8_t, ONECLICK_TRAILER_SIZE> OneClickTrailer::Encode() const {
  std::array<uint8_t, ONECLICK_TRAILER_SIZE> bytes{};
  PutLe32(&bytes[0], pitOffset);
  PutLe32(&bytes[4], pitSize);
  PutLe32(&bytes[8], rePartition);
  PutLe32(&bytes[548], phoneBootUpdate);
  PutLe32(&bytes[552], phoneEfsClear);
  PutLe32(&bytes[1460], autoReboot);
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    uint8_t* record = &bytes[ONECLICK_SLOT_OFFSETS[slot]];
    PutLe32(record, slots[slot].offset);
    PutLe32(record + 4, slots[slot].length);
    PutLe16(record + 8, static_cast<uint16_t>(slots[slot].type));
  }
  const size_t maxChars = ONECLICK_TITLE_BYTES / 2 - 1;
  for (size_t i = 0; i < title.size() && i < maxChars; ++i) {
    PutLe16(&bytes[ONECLICK_TITLE_OFFSET + 2 * i], static_cast<uint16_t>(title[i]));
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

std::optional<OneClickTrailer> ReadOneClickTrailer(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return std::nullopt;
  const auto size = static_cast<uint64_t>(in.tellg());
  if (size < ONECLICK_TRAILER_SIZE) return std::nullopt;
  uint8_t bytes[ONECLICK_TRAILER_SIZE];
  in.seekg(static_cast<std::streamoff>(size - ONECLICK_TRAILER_SIZE));
  if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes)) return std::nullopt;
  OneClickTrailer trailer = OneClickTrailer::Parse(bytes);
  if (!trailer.TitleMatches()) return std::nullopt;
  return trailer;
}

}  // namespace mirk3
