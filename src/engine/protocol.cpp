#include "engine/protocol.h"

#include "base/le.h"
#include "base/text.h"

namespace mirk3 {

std::array<uint8_t, REQUEST_PACKET_SIZE> RequestPacket::Encode() const {
  std::array<uint8_t, REQUEST_PACKET_SIZE> bytes{};
  PutLe32(&bytes[0], static_cast<uint32_t>(type));
  PutLe32(&bytes[4], static_cast<uint32_t>(subType));
  for (int i = 0; i < REQUEST_MAX_WORDS; ++i) {
    PutLe32(&bytes[8 + 4 * i], static_cast<uint32_t>(words[i]));
  }
  CopyToField(reinterpret_cast<char*>(&bytes[REQUEST_TEXT1_OFFSET]), REQUEST_TEXT1_SIZE, text1);
  CopyToField(reinterpret_cast<char*>(&bytes[REQUEST_TEXT2_OFFSET]), REQUEST_TEXT2_SIZE, text2);
  return bytes;
}

RequestPacket RequestPacket::Decode(const uint8_t* bytes) {
  RequestPacket packet;
  packet.type = GetLe32s(bytes);
  packet.subType = GetLe32s(bytes + 4);
  for (int i = 0; i < REQUEST_MAX_WORDS; ++i) packet.words[i] = GetLe32s(bytes + 8 + 4 * i);
  packet.text1 = std::string(
      FieldText(reinterpret_cast<const char*>(bytes + REQUEST_TEXT1_OFFSET), REQUEST_TEXT1_SIZE));
  packet.text2 = std::string(
      FieldText(reinterpret_cast<const char*>(bytes + REQUEST_TEXT2_OFFSET), REQUEST_TEXT2_SIZE));
  return packet;
}

std::array<uint8_t, RESPONSE_PACKET_SIZE> ResponsePacket::Encode() const {
  std::array<uint8_t, RESPONSE_PACKET_SIZE> bytes{};
  PutLe32(&bytes[0], static_cast<uint32_t>(id));
  PutLe32(&bytes[4], static_cast<uint32_t>(value));
  return bytes;
}

ResponsePacket ResponsePacket::Decode(const uint8_t* bytes) {
  return ResponsePacket{GetLe32s(bytes), GetLe32s(bytes + 4)};
}

}  // namespace mirk3
