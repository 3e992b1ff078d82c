// Why a serial line failed, in the few kinds an operator can act on: the device node is
// missing, the station may not open it, another program holds it, the phone did not answer in
// time, the phone went away (unplugged, rebooted), or anything else. One mapping from errno.
#pragma once

#include <string>

namespace mirk3 {

enum class LineError {
  None,
  NotFound,          // no device node at the port's path
  PermissionDenied,  // the node exists but this user may not open it
  Busy,              // another program holds the port
  TimedOut,          // the phone did not answer within the time limit
  Removed,           // the phone went away: unplugged, rebooted, hung up
  NotOpen,           // the line was closed before the call (by an earlier failure)
  Other,
};

// The kind of an errno value of open, read, write or poll on a serial device.
LineError LineErrorFromErrno(int error);

// A few words on the kind, for log lines: "the phone was disconnected", ...
std::string LineErrorText(LineError error);

}  // namespace mirk3
