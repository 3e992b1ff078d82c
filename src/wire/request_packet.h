// The 1024-byte request the host sends the boot loader. Every request has the same layout,
// zero-filled before its fields are set: a signed type, a signed sub-type, eight signed words
// (those a request does not use stay 0), four bytes never written, two reserved NUL-terminated
// texts that the station never fills, and zeros to the end. All words are little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace mirk3 {

inline constexpr int REQUEST_PACKET_SIZE = 1024;
inline constexpr int REQUEST_TYPE_OFFSET = 0;
inline constexpr int REQUEST_SUBTYPE_OFFSET = 4;
inline constexpr int REQUEST_WORDS_OFFSET = 8;
inline constexpr int REQUEST_MAX_WORDS = 8;
inline constexpr int REQUEST_WORDS_END = REQUEST_WORDS_OFFSET + 4 * REQUEST_MAX_WORDS;
inline constexpr int REQUEST_GAP_SIZE = 4;  // between the words and text 1, always zero
inline constexpr int REQUEST_TEXT1_OFFSET = 44;
inline constexpr int REQUEST_TEXT1_SIZE = 128;  // at most 127 bytes and the NUL
inline constexpr int REQUEST_TEXT2_OFFSET = 172;
inline constexpr int REQUEST_TEXT2_SIZE = 32;  // at most 31 bytes and the NUL

static_assert(REQUEST_SUBTYPE_OFFSET == REQUEST_TYPE_OFFSET + 4);
static_assert(REQUEST_WORDS_OFFSET == REQUEST_SUBTYPE_OFFSET + 4);
static_assert(REQUEST_WORDS_END == 40);
static_assert(REQUEST_TEXT1_OFFSET == REQUEST_WORDS_END + REQUEST_GAP_SIZE);
static_assert(REQUEST_TEXT2_OFFSET == REQUEST_TEXT1_OFFSET + REQUEST_TEXT1_SIZE);
static_assert(REQUEST_TEXT2_OFFSET + REQUEST_TEXT2_SIZE <= REQUEST_PACKET_SIZE);

using RequestWords = std::array<int32_t, REQUEST_MAX_WORDS>;

struct RequestPacket {
  int32_t type = 0;     // RQT_INIT ... RQT_DEVINFO (request_table.h)
  int32_t subType = 0;  // what the type's request asks for
  RequestWords words{};
  std::string text1;  // reserved; longer texts are cut so that the NUL fits
  std::string text2;  // reserved; likewise

  std::array<uint8_t, REQUEST_PACKET_SIZE> Encode() const;
  static RequestPacket Decode(const uint8_t* bytes);  // REQUEST_PACKET_SIZE bytes
};

}  // namespace mirk3
