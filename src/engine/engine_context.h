// What an engine takes from the station besides its port and options: the timing record, the
// port dir, the program's own file (where a One Click program carries its packages), the
// meta-data public key, and a way to show the operator an error box.
#pragma once

#include <functional>
#include <string>

#include "base/timing.h"

namespace mirk3 {

struct EngineContext {
  Timing timing;
  std::string portDir;  // empty: DefaultPortDir()
  std::string ownExecutablePath = "/proc/self/exe";
  std::string metaDataKey;  // base64 DER public key; empty: built-in key
  std::function<void(const std::string&)> showMessage;  // operator error box; may be empty
};

}  // namespace mirk3
