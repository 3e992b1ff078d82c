// The failure codes a port's failure carries: what kind of thing went wrong, as the station's
// records and the companion's programs see it.
#pragma once

#include <cstdint>

namespace mirk3 {

inline constexpr int64_t FAIL_PORT_OPEN = 0;
inline constexpr int64_t FAIL_FILE_OPEN = 1;
inline constexpr int64_t FAIL_REQUEST = 2;
inline constexpr int64_t FAIL_DATA_TRANSFER = 3;
inline constexpr int64_t FAIL_REPARTITION = 4;
inline constexpr int64_t FAIL_OUT_OF_MEMORY = 5;
inline constexpr int64_t FAIL_MD5_INVALID = 6;
inline constexpr int64_t FAIL_NO_PIT = 7;
inline constexpr int64_t FAIL_LOCK = 8;
inline constexpr int64_t FAIL_ERASE = 9;
inline constexpr int64_t FAIL_TFLASH = 10;
inline constexpr int64_t FAIL_DEVICE_INFO = 12;
inline constexpr int64_t FAIL_RTN = 13;
inline constexpr int64_t FAIL_REQUEST_ID = 99;

}  // namespace mirk3
