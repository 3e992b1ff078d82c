// The engine's string table: the numbered messages that failure reports carry.
#pragma once

namespace mirk3 {

inline constexpr int IDS_PORT_OPEN_FAILED = 102;
inline constexpr int IDS_FILE_OPEN_FAILED = 103;
inline constexpr int IDS_NO_PIT_PARTITION = 104;
inline constexpr int IDS_WRITE_COMPLETION_FAILED = 105;
inline constexpr int IDS_REPARTITION_FAILED = 106;
inline constexpr int IDS_OUT_OF_MEMORY = 108;
inline constexpr int IDS_MD5_INVALID = 109;
inline constexpr int IDS_LOCK_FAILED = 110;
inline constexpr int IDS_FAIL_DEVICE_INFO = 112;
inline constexpr int IDS_FAIL_EXT4 = 113;
inline constexpr int IDS_FAIL_SIZE = 114;
inline constexpr int IDS_FAIL_AUTH = 115;
inline constexpr int IDS_FAIL_WRITE = 116;
inline constexpr int IDS_FAIL_ERASE = 117;
inline constexpr int IDS_FAIL_WP = 118;

// The text of a string-table entry; an empty text for an unknown id.
const char* LoadString(int id);

}  // namespace mirk3
