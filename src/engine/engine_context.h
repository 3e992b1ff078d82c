// What an engine takes from the station besides its port and options: the timing record, the
// port dir, the program's own file (where a One Click program carries its packages), the
// meta-data public key, the meta-data verdicts the engines of one run share, and a way to show
// the operator an error box.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/timing.h"

namespace mirk3 {

class MetaDataResults;

struct EngineContext {
  Timing timing;
  std::string portDir;  // empty: DefaultPortDir()
  std::string ownExecutablePath = "/proc/self/exe";
  std::string metaDataKey;  // base64 DER public key; empty: built-in key
  // Shared by the engines of one run, so that each package is hashed once; none: the engine
  // checks every package itself.
  std::shared_ptr<MetaDataResults> metaDataResults;
  std::function<void(const std::string&)> showMessage;  // operator error box; may be empty
};

}  // namespace mirk3
