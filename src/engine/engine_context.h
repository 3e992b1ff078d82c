// What an engine takes from the station besides its port and options: the timing record, the
// port dir, the program's own file (where a One Click program carries its packages), the
// meta-data public key, the meta-data verdicts the engines of one run share and, for a peer that
// is not a port, the line to speak over. The engine reaches the station itself only through its
// report sink.
#pragma once

#include <memory>
#include <string>

#include "base/timing.h"
#include "serial/byte_line.h"

namespace mirk3 {

class MetaDataResults;

struct EngineContext {
  Timing timing;
  std::string portDir;                               // empty: DefaultPortDir()
  std::string ownExecutablePath = "/proc/self/exe";  // empty: none, file mode
  std::string metaDataKey;                           // base64 DER public key; empty: built-in key
  // Shared by the engines of one run, so that each package is hashed once; none: the engine
  // checks every package itself.
  std::shared_ptr<MetaDataResults> metaDataResults;
  // A line to speak over instead of the serial port of the engine's port number; none: the
  // port. The engine gives it up (ClosePort) as it would close its port.
  std::shared_ptr<ByteLine> line;
};

}  // namespace mirk3
