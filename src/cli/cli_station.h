// `mirk3-cli station`: the headless factory loop. Options come from Mirk3.ini as the window
// reads them; packages are picked and dropped as in the window. The station follows the port
// dir, starts a run when the chosen number of slots is occupied (or at once, once), flashes every
// phone, logs, broadcasts each result to the companion on D-Bus, tells the jig, writes the
// results records, frees the slots and waits for the next phones.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/download_options.h"
#include "engine/engine_context.h"
#include "station/history_wiring.h"

namespace mirk3 {

// What the command line of `station` asks for.
struct StationArgs {
  std::string iniPath;
  int autoCount = 0;  // 0: one run at once with the ports present
  int runs = 0;       // 0: until stopped (with --auto), else this many
  std::string resultsPath;
  std::string logDir;
  DownloadOptions picked;  // the package options: picks
  std::vector<std::string> dropped;
  std::string metaKeyFile;
  EngineContext context;
  bool noBus = false;
  bool systemBus = false;
  HistoryOptions history;
};

// Reads the command line into `a`. The help, the version or a usage error is printed and its
// exit status returned; nothing when the station goes on.
std::optional<int> ParseStationArguments(const std::vector<std::string>& args, StationArgs* a,
                                         std::ostream& out, std::ostream& err);

// Exit status: 0 every port of every run passed (or stopped before any run), 1 any failed (or a
// second signal stopped the station mid-flash), 2 nothing could run (usage, settings file
// missing, no bus, nothing chosen, a package refused, an output refused, the port dir not
// watchable or taken by another station, no phone in a single run), 3 an output lost lines or
// records.
// `terminalFd` is the terminal behind `err` for the live display, -1 for none.
int RunStationCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      int terminalFd);

}  // namespace mirk3
