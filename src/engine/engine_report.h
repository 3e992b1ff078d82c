// What a worker tells the station: the report record, the six report messages, the failure
// codes they carry, and the sink through which every report travels. The sink delivers each
// report in order on the station's main thread; the sending worker waits until it is handled.
#pragma once

#include <cstdint>
#include <string>

namespace mirk3 {

inline constexpr int WM_DL_START = 4024;     // "Firmware update start..", value = packageTotal
inline constexpr int WM_DL_COMPLETE = 4025;  // "Completed.." for a port; empty with port -1
inline constexpr int WM_DL_PROGRESS = 4026;  // partition or file name, value = sent bytes
inline constexpr int WM_DL_FAIL = 4027;      // failure text, value = failure code
inline constexpr int WM_DL_LOG = 4028;       // log line
inline constexpr int WM_DL_STATUS = 4029;    // status code in value

inline constexpr int32_t NO_PORT = -1;            // a report that belongs to no port
inline constexpr size_t REPORT_TEXT_CHARS = 127;  // longest report text, in characters

// Status codes of WM_DL_STATUS.
inline constexpr int64_t STATUS_PORT_ADDED = 100;
inline constexpr int64_t STATUS_PORT_REMOVED = 101;
inline constexpr int64_t STATUS_CLOSE_ACCEPTED = 102;

// Failure codes of WM_DL_FAIL.
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

struct EngineReport {
  int32_t port = NO_PORT;
  std::string text;  // at most 127 characters
  int64_t value = 0;
};

class ReportSink {
 public:
  virtual ~ReportSink() = default;
  // Delivers the report on the station's main thread and returns once it has been handled.
  virtual void Send(int message, const EngineReport& report) = 0;
};

}  // namespace mirk3
