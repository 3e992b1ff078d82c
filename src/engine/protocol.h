// The boot loader's download protocol as it travels on the serial line: the handshake, the
// 1024-byte request and 8-byte response records, and every request type and sub-type the
// station sends. The station and the emulated boot loader are both built on these constants.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace mirk3 {

inline constexpr char HANDSHAKE_HOST[] = "MIRK";    // host greeting, 4 bytes on the wire
inline constexpr char HANDSHAKE_DEVICE[] = "TASH";  // boot loader answer, 4 bytes on the wire
inline constexpr int HANDSHAKE_LENGTH = 4;

inline constexpr int REQUEST_PACKET_SIZE = 1024;
inline constexpr int RESPONSE_PACKET_SIZE = 8;
inline constexpr int REQUEST_MAX_WORDS = 8;
inline constexpr int REQUEST_TEXT1_OFFSET = 44;
inline constexpr int REQUEST_TEXT1_SIZE = 128;
inline constexpr int REQUEST_TEXT2_OFFSET = 172;
inline constexpr int REQUEST_TEXT2_SIZE = 32;

// Returned by SendRequest for every failed exchange.
inline constexpr int32_t REQUEST_FAILED = INT32_MIN;  // 0x80000000
// The id of a failure response.
inline constexpr int32_t RESPONSE_FAILURE_ID = -1;

// Request types.
inline constexpr int32_t RQT_INIT = 100;
inline constexpr int32_t RQT_PIT = 101;
inline constexpr int32_t RQT_XMIT = 102;
inline constexpr int32_t RQT_CLOSE = 103;
inline constexpr int32_t RQT_DEVINFO = 105;

// Sub-types of RQT_INIT.
inline constexpr int32_t RQT_INIT_BEGIN =
    0;  // [0] = host protocol version; value bits 16-31: device's
inline constexpr int32_t RQT_INIT_TOTALSIZE =
    2;  // [0] = total mod 0xFFFFFFFF, [1] = total div 0xFFFFFFFF
inline constexpr int32_t RQT_INIT_LOCK = 3;        // [0] = 1
inline constexpr int32_t RQT_INIT_PACKETSIZE = 5;  // [0] = packet size in bytes
inline constexpr int32_t RQT_INIT_ERASE = 7;
inline constexpr int32_t RQT_INIT_TFLASH = 8;
inline constexpr int32_t RQT_INIT_RTN = 10;

// Sub-types of RQT_PIT.
inline constexpr int32_t RQT_PIT_SET = 0;  // upload: begin
inline constexpr int32_t RQT_PIT_GET = 1;  // download: begin; value = table length
inline constexpr int32_t RQT_PIT_XMIT =
    2;  // upload: [0] = length; download: [0] = piece index, no reply
inline constexpr int32_t RQT_PIT_END = 3;  // end of either transfer

// Sub-types of RQT_XMIT.
inline constexpr int32_t RQT_XMIT_BEGIN = 0;     // begin a sequence
inline constexpr int32_t RQT_XMIT_ANNOUNCE = 2;  // [0] = sequence length rounded up to 131072
inline constexpr int32_t RQT_XMIT_END = 3;       // 8 words, phone or modem layout

// Sub-types of RQT_CLOSE.
inline constexpr int32_t RQT_CLOSE_END = 0;
inline constexpr int32_t RQT_CLOSE_REBOOT = 1;

// Sub-types of RQT_DEVINFO.
inline constexpr int32_t RQT_DEVINFO_BEGIN = 0;  // value = record length (a multiple of 500)
inline constexpr int32_t RQT_DEVINFO_PIECE = 1;  // [0] = piece index, no reply
inline constexpr int32_t RQT_DEVINFO_END = 2;

inline constexpr int32_t HOST_PROTOCOL_VERSION = 4;
inline constexpr int PIECE_SIZE = 500;              // pieces of the partition table and device info
inline constexpr uint32_t SEQUENCE_ALIGN = 131072;  // announced sequence lengths round up to this
inline constexpr int32_t DEFAULT_PACKET_SIZE = 131072;
inline constexpr int32_t NEGOTIATED_FALLBACK_PACKET_SIZE = 1048576;

// End-of-sequence layouts: word 0 says which one follows.
inline constexpr int32_t EOS_LAYOUT_PHONE = 0;
inline constexpr int32_t EOS_LAYOUT_MODEM = 1;

// Failure codes a boot loader answers with (response id -1).
inline constexpr int32_t BL_FAIL_WP = -2;
inline constexpr int32_t BL_FAIL_ERASE = -3;
inline constexpr int32_t BL_FAIL_WRITE = -4;
inline constexpr int32_t BL_FAIL_AUTH = -5;
inline constexpr int32_t BL_FAIL_SIZE = -6;
inline constexpr int32_t BL_FAIL_EXT4 = -7;

// Device information record.
inline constexpr uint32_t DEVINFO_MAGIC = 0x12345678;
inline constexpr uint32_t DEVINFO_ITEM_MODEL = 0;
inline constexpr uint32_t DEVINFO_ITEM_TEXT = 1;

// Partition table layout.
inline constexpr int PIT_HEADER_SIZE = 28;
inline constexpr int PIT_ENTRY_SIZE = 132;
inline constexpr int PIT_NAME_SIZE = 32;
inline constexpr int PIT_PARTITION_NAME_OFFSET = 36;
inline constexpr int PIT_FILE_NAME_OFFSET = 68;
inline constexpr int PIT_AUX_NAME_OFFSET = 100;

// A request as it travels: type, sub-type, up to eight words; the two reserved texts are
// never filled by the station.
struct RequestPacket {
  int32_t type = 0;
  int32_t subType = 0;
  std::array<int32_t, REQUEST_MAX_WORDS> words{};
  std::string text1;  // reserved; at most 127 bytes travel
  std::string text2;  // reserved; at most 31 bytes travel

  std::array<uint8_t, REQUEST_PACKET_SIZE> Encode() const;
  static RequestPacket Decode(const uint8_t* bytes);
};

// The boot loader's answer: the id of the request answered (or -1) and a value.
struct ResponsePacket {
  int32_t id = 0;
  int32_t value = 0;

  std::array<uint8_t, RESPONSE_PACKET_SIZE> Encode() const;
  static ResponsePacket Decode(const uint8_t* bytes);
};

}  // namespace mirk3
