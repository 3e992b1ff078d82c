// One port's part in one run, as the station follows it from the reports: where it sits, what
// it is doing, how far it got, and how it ended. The live terminal display and the results
// records are drawn from these.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/line_error.h"

namespace mirk3 {

enum class Verdict { Waiting, Running, Passed, Failed };

// A package chosen for the run: its slot name ("BL", "AP", ...), path and size in bytes.
struct RunPackage {
  std::string slot;
  std::string path;
  uint64_t size = 0;
};

struct PortRun {
  int run = 0;  // 1 for the station's first run
  int slot = -1;
  int port = -1;
  std::string usbPath;  // empty for a pseudo-terminal
  std::string model;    // the phone's model, once its device-info record was read
  std::vector<std::string> deviceItems;  // every text item of that record, in its order
  Verdict verdict = Verdict::Waiting;
  std::string stage;    // the step of the download under way ("firmware update", ...)
  std::string step;     // the last progress text: the partition or file being written
  uint64_t sent = 0;    // bytes written so far
  uint64_t total = 0;   // bytes announced at the start of the download; 0 until then
  int64_t code = 0;     // the failure code; 0 for a pass
  std::string message;  // the failure's text; empty for a pass
  std::string failedStep;              // the step that failed; empty for a pass
  LineError cause = LineError::None;   // the line's state when the failing step gave up
  std::chrono::steady_clock::time_point started;    // the run's start
  std::chrono::steady_clock::time_point firstByte;  // the first progress report with bytes
  std::chrono::steady_clock::time_point ended;
  std::chrono::system_clock::time_point startedUtc;
  std::chrono::system_clock::time_point endedUtc;
};

}  // namespace mirk3
