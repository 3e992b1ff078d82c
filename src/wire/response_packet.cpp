#include "wire/response_packet.h"

#include "base/le.h"

namespace mirk3 {

std::array<uint8_t, RESPONSE_PACKET_SIZE> ResponsePacket::Encode() const {
  std::array<uint8_t, RESPONSE_PACKET_SIZE> bytes{};
  PutLe32(&bytes[RESPONSE_ID_OFFSET], static_cast<uint32_t>(id));
  PutLe32(&bytes[RESPONSE_VALUE_OFFSET], static_cast<uint32_t>(value));
  return bytes;
}

ResponsePacket ResponsePacket::Decode(const uint8_t* bytes) {
  return ResponsePacket{GetLe32s(bytes + RESPONSE_ID_OFFSET),
                        GetLe32s(bytes + RESPONSE_VALUE_OFFSET)};
}

}  // namespace mirk3
