// The results records: one JSON object per port and run, appended as one line (JSON Lines) the
// moment the port's result is known. Each record goes to the file in one write, so a station
// killed in the middle of a run leaves whole lines only, and two stations may append to the
// same file.
#pragma once

#include <string>
#include <vector>

#include "base/result.h"
#include "station/append_file.h"
#include "station/dated_log.h"
#include "station/port_run.h"

namespace mirk3 {

// The record of a passed or failed port, without its line end. Keys: run, slot, port (the port
// number), usb_path (null when the port has none), verdict ("PASS"/"FAIL"), code, message,
// elapsed_ms, bytes, total, packages [{slot, path, size}], started and ended (UTC, ISO 8601
// with milliseconds; null when never set). Texts that are not UTF-8 are written with U+FFFD in
// place of their bad bytes.
std::string ResultRecord(const PortRun& port, const std::vector<RunPackage>& packages);

class ResultsFile {
 public:
  // Opens `path` for appending, creating it (mode 0644) when missing. A FIFO or a socket is
  // refused (a pipe without a reader would hold the station); a character device such as
  // /dev/null is taken.
  Status Open(const std::string& path);
  // Follows the date instead: each record goes to <dir>/results-YYYY-MM-DD.jsonl of the local
  // day it is written on, beside the dated log.
  Status OpenDated(const std::string& dir, WallClock clock = std::chrono::system_clock::now);
  bool IsOpen() const { return file_.IsOpen(); }
  const std::string& Path() const { return file_.Path(); }
  // Appends the port's record, whole or not at all. Refuses a port whose result is not known
  // yet; a failed write (disk full, a file gone read-only) says why.
  Status Append(const PortRun& port, const std::vector<RunPackage>& packages);

 private:
  AppendFile file_;
  std::string dir_;  // set when the file follows the date
  WallClock clock_;
};

}  // namespace mirk3
