// The boot loader's 8-byte answer to a request: the id of the request answered and a value.
// A failure carries id -1 and a negative failure code (request_table.h) as its value. Raw data
// are acknowledged with 8 bytes too, whose content means nothing.
#pragma once

#include <array>
#include <cstdint>

namespace mirk3 {

inline constexpr int RESPONSE_PACKET_SIZE = 8;
inline constexpr int RESPONSE_ID_OFFSET = 0;
inline constexpr int RESPONSE_VALUE_OFFSET = 4;

static_assert(RESPONSE_VALUE_OFFSET + 4 == RESPONSE_PACKET_SIZE);

struct ResponsePacket {
  int32_t id = 0;     // the request type answered, or RESPONSE_FAILURE_ID
  int32_t value = 0;  // the request's result, or the failure code

  std::array<uint8_t, RESPONSE_PACKET_SIZE> Encode() const;
  static ResponsePacket Decode(const uint8_t* bytes);  // RESPONSE_PACKET_SIZE bytes
};

}  // namespace mirk3
