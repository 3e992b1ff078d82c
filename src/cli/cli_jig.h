// `mirk3-cli jig`: talks to a test jig the way the station does, one step at a time, so that an
// engineer can check a jig's wiring before a shift: `jig check` (the connection check),
// `jig setup` (both set-up phases), `jig event TYPE POSITION` (a start, pass or fail at one of
// the eight positions). Every frame sent is printed as text and checksum, every reply as it
// came back.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/timing.h"
#include "jig/jig_settings.h"

namespace mirk3 {

// What to do with the jig.
struct JigRequest {
  std::string action;  // "check", "setup" or "event"
  int event = 0;       // for "event": JigStart, JigPass or JigFail
  int position = 0;    // for "event": 1..8
};

// Exit 0 when the jig answered as expected (for setup: every frame of both phases went out),
// 1 when it did not, 2 for a usage error.
int RunJigCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The request carried out against the jig of `settings` (its device and cable flag).
int RunJigRequest(const JigRequest& request, const JigSettings& settings, const Timing& timing,
                  std::ostream& out, std::ostream& err);

}  // namespace mirk3
