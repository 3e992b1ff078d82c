#include "wire/request_packet.h"

#include "base/le.h"
#include "base/text.h"

namespace mirk3 {

std::array<uint8_t, REQUEST_PACKET_SIZE> RequestPacket::Encode() const {
  std::array<uint8_t, REQUEST_PACKET_SIZE> bytes{};
  PutLe32(&bytes[REQUEST_TYPE_OFFSET], static_cast<uint32_t>(type));
  PutLe32(&bytes[REQUEST_SUBTYPE_OFFSET], static_cast<uint32_t>(subType));
  for (int i = 0; i < REQUEST_MAX_WORDS; ++i) {
    PutLe32(&bytes[REQUEST_WORDS_OFFSET + 4 * i], static_cast<uint32_t>(words[i]));
  }
  CopyToField(reinterpret_cast<char*>(&bytes[REQUEST_TEXT1_OFFSET]), REQUEST_TEXT1_SIZE, text1);
  CopyToField(reinterpret_cast<char*>(&bytes[REQUEST_TEXT2_OFFSET]), REQUEST_TEXT2_SIZE, text2);
  return bytes;
}

RequestPacket RequestPacket::Decode(const uint8_t* bytes) {
  RequestPacket packet;
  packet.type = GetLe32s(bytes + REQUEST_TYPE_OFFSET);
  packet.subType = GetLe32s(bytes + REQUEST_SUBTYPE_OFFSET);
  for (int i = 0; i < REQUEST_MAX_WORDS; ++i) {
    packet.words[i] = GetLe32s(bytes + REQUEST_WORDS_OFFSET + 4 * i);
  }
  packet.text1 = std::string(
      FieldText(reinterpret_cast<const char*>(bytes + REQUEST_TEXT1_OFFSET), REQUEST_TEXT1_SIZE));
  packet.text2 = std::string(
      FieldText(reinterpret_cast<const char*>(bytes + REQUEST_TEXT2_OFFSET), REQUEST_TEXT2_SIZE));
  return packet;
}

}  // namespace mirk3
