// The engine's events as the six report messages of the log face: a message number, the port,
// a text and a value. Tools that print what an engine says, and tests that follow a run's
// reports, read events through this one mapping; the station itself takes the typed events.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/engine_events.h"

namespace mirk3 {

inline constexpr int WM_DL_START = 4024;     // "Firmware update start..", value = packageTotal
inline constexpr int WM_DL_COMPLETE = 4025;  // "Completed.." for a port; empty with port -1
inline constexpr int WM_DL_PROGRESS = 4026;  // partition or file name, value = sent bytes
inline constexpr int WM_DL_FAIL = 4027;      // failure text, value = failure code
inline constexpr int WM_DL_LOG = 4028;       // log line
inline constexpr int WM_DL_STATUS = 4029;    // status code in value

// Status codes of WM_DL_STATUS.
inline constexpr int64_t STATUS_PORT_ADDED = 100;
inline constexpr int64_t STATUS_PORT_REMOVED = 101;
inline constexpr int64_t STATUS_CLOSE_ACCEPTED = 102;

struct EngineReport {
  int32_t port = NO_PORT;
  std::string text;  // at most 127 characters
  int64_t value = 0;
};

struct MessageReport {
  int message = 0;
  EngineReport report;
};

// The report message an event is shown as; none for the events that have no message of their
// own (a step's start, the phone's identity, the verdict of a failed port).
std::optional<MessageReport> AsMessage(const PortEvent& event);

}  // namespace mirk3
