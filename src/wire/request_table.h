// Every request type and sub-type the station sends, what their words and answers carry, and
// the values that go with them: protocol versions, the boot loader's failure codes, the piece
// size of records read in pieces and the packet sizes of file data.
#pragma once

#include <cstdint>

namespace mirk3 {

// Request types.
inline constexpr int32_t RQT_INIT = 100;
inline constexpr int32_t RQT_PIT = 101;
inline constexpr int32_t RQT_XMIT = 102;
inline constexpr int32_t RQT_CLOSE = 103;
inline constexpr int32_t RQT_DEVINFO = 105;  // 104 is not used

// Sub-types of RQT_INIT. All are answered.
inline constexpr int32_t RQT_INIT_BEGIN = 0;       // [0] = host protocol version
inline constexpr int32_t RQT_INIT_TOTALSIZE = 2;   // [0] = total mod, [1] = total div the divisor
inline constexpr int32_t RQT_INIT_LOCK = 3;        // [0] = 1
inline constexpr int32_t RQT_INIT_PACKETSIZE = 5;  // [0] = packet size in bytes
inline constexpr int32_t RQT_INIT_ERASE = 7;
inline constexpr int32_t RQT_INIT_TFLASH = 8;
inline constexpr int32_t RQT_INIT_RTN = 10;

// Sub-types of RQT_PIT.
inline constexpr int32_t RQT_PIT_SET = 0;  // upload: begin
inline constexpr int32_t RQT_PIT_GET = 1;  // download: begin; the answer is the table length
// Upload: [0] = length, then the table as raw data. Download: [0] = piece index, answered by
// the raw piece.
inline constexpr int32_t RQT_PIT_XMIT = 2;
inline constexpr int32_t RQT_PIT_END = 3;  // end of either transfer

// Sub-types of RQT_XMIT.
inline constexpr int32_t RQT_XMIT_BEGIN = 0;     // begin a sequence
inline constexpr int32_t RQT_XMIT_ANNOUNCE = 2;  // [0] = the sequence length, rounded up
inline constexpr int32_t RQT_XMIT_END = 3;       // 8 words, see end_of_sequence.h

// Sub-types of RQT_CLOSE.
inline constexpr int32_t RQT_CLOSE_END = 0;
inline constexpr int32_t RQT_CLOSE_REBOOT = 1;

// Sub-types of RQT_DEVINFO.
inline constexpr int32_t RQT_DEVINFO_BEGIN = 0;  // the answer is the record length
inline constexpr int32_t RQT_DEVINFO_PIECE = 1;  // [0] = piece index, answered by the raw piece
inline constexpr int32_t RQT_DEVINFO_END = 2;

// The host speaks version 4; the boot loader answers RQT_INIT_BEGIN with its own version in
// the upper half of the value (the lower half means nothing).
inline constexpr int32_t HOST_PROTOCOL_VERSION = 4;
inline constexpr int PROTOCOL_VERSION_SHIFT = 16;
inline constexpr int32_t PROTOCOL_NEGOTIATES_PACKET_SIZE = 2;  // from this version on
inline constexpr int32_t PROTOCOL_HAS_DEVICE_INFO = 4;         // from this version on

constexpr int32_t ProtocolVersionOfAnswer(int32_t value) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) >> PROTOCOL_VERSION_SHIFT);
}
constexpr int32_t AnswerOfProtocolVersion(int32_t version) {
  return static_cast<int32_t>(static_cast<uint32_t>(version) << PROTOCOL_VERSION_SHIFT);
}

// The total download size travels as two words split by this divisor: it is 2^32 - 1, not
// 2^32, because that is how the boot loader joins them again.
inline constexpr uint64_t TOTAL_SIZE_DIVISOR = 0xFFFFFFFFull;

// Partition tables and device information are read in pieces of this size; the last piece of
// a partition table is shorter when the table is.
inline constexpr int PIECE_SIZE = 500;

// File data travel in packets of this size until a packet size is negotiated; a host asked for
// less than this negotiates the fallback instead.
inline constexpr int32_t DEFAULT_PACKET_SIZE = 131072;
inline constexpr int32_t NEGOTIATED_FALLBACK_PACKET_SIZE = 1048576;

// A response whose id is this is a failure; its value is one of the codes below or another
// negative value.
inline constexpr int32_t RESPONSE_FAILURE_ID = -1;
inline constexpr int32_t BL_FAIL_WP = -2;
inline constexpr int32_t BL_FAIL_ERASE = -3;
inline constexpr int32_t BL_FAIL_WRITE = -4;
inline constexpr int32_t BL_FAIL_AUTH = -5;
inline constexpr int32_t BL_FAIL_SIZE = -6;
inline constexpr int32_t BL_FAIL_EXT4 = -7;

}  // namespace mirk3
