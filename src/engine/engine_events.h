// What a port's download tells the station, as typed events, and the one observer every event
// travels through. Each event belongs to a port (NO_PORT: to the run or to none); the observer
// hands it to the station's main thread in order, and the sending worker waits until it has
// been handled there.
//
// A failing port shows every refusal it meets as a FailureShown (each is a log line and makes
// its slot show FAIL) and ends with exactly one Failed, sent by the step runner: the verdict,
// with the first refusal's code and text and the line's state when the step gave up.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "engine/failure_codes.h"
#include "serial/line_error.h"
#include "wire/device_info_record.h"

namespace mirk3 {

inline constexpr int32_t NO_PORT = -1;            // an event that belongs to no port
inline constexpr size_t REPORT_TEXT_CHARS = 127;  // longest text an event carries, in characters

// A line for the log and nothing else.
struct Note {
  std::string text;
};
// A step of the download begins ("Setup Connection", "Firmware Update", ...).
struct StepStarted {
  std::string name;
};
// The data transfer begins; `total` bytes will be sent.
struct DownloadStarted {
  uint64_t total = 0;
  std::string text;
};
// What is being written (a partition or file name, or what the port waits for) and how many
// bytes have gone so far.
struct Progress {
  std::string what;
  uint64_t sent = 0;
};
// The phone described itself: its model (empty when it named none) and every item of its
// device-info record, in the record's order.
struct DeviceIdentified {
  std::string model;
  std::vector<DeviceInfoItem> items;
};
// A refusal the slot shows and the log records; more than one may come from a failing port.
struct FailureShown {
  int64_t code = FAIL_REQUEST;
  std::string text;
};
// The port's verdict when it failed: once per port.
struct Failed {
  int64_t code = FAIL_REQUEST;
  std::string text;
  std::string step;                   // the step that failed; empty outside the steps
  LineError cause = LineError::None;  // the line's state when the step gave up
};
// The port's download completed.
struct Passed {
  std::string text;
};
// The phone accepted the end of the session (it resets or stays, as asked).
struct CloseAccepted {};
// Every worker of the run has ended (port NO_PORT).
struct RunEnded {};

using EngineEvent = std::variant<Note, StepStarted, DownloadStarted, Progress, DeviceIdentified,
                                 FailureShown, Failed, Passed, CloseAccepted, RunEnded>;

struct PortEvent {
  int32_t port = NO_PORT;
  EngineEvent event;
};

class EngineObserver {
 public:
  virtual ~EngineObserver() = default;
  // Delivers the event on the station's main thread and returns once it has been handled.
  virtual void Tell(const PortEvent& event) = 0;
};

}  // namespace mirk3
