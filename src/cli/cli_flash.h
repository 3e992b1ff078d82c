// `mirk3-cli flash`: the headless station's run. Every package given is picked as the window
// picks it (an MD5 package whose trailer does not verify stops the command before any phone is
// touched), the given ports take the first free slots in the given order, one option record is
// built as Start builds it from the window, and every report the window would log is printed,
// ending with the run summary.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/download_options.h"
#include "engine/engine_context.h"

namespace mirk3 {

struct FlashRequest {
  std::vector<int> ports;
  DownloadOptions options;
  EngineContext context;
  std::string metaKeyFile;
  std::vector<std::string> givenOptions;  // the long names of the options on the line
};

// The options of a run with the settings file's defaults: Auto Reboot on, F. Reset Time on
// with 1 second, packets of 1048576 bytes.
DownloadOptions DefaultRunOptions();

// Fills `request` from the command line. The help, the version or a usage error (among them
// more ports than the station has slots and a port given twice) is printed, and its exit
// status returned; nothing when the run goes on.
std::optional<int> ParseFlashArguments(const std::vector<std::string>& args, FlashRequest* request,
                                       std::ostream& out, std::ostream& err);

// Exit status: 0 every port passed, 1 any failed, 2 usage error, nothing chosen, an MD5
// package refused or a port locked by another station, 3 the log lost lines (standard output
// closed or full).
// `terminalFd` is the terminal behind `err` for the live display, -1 for none.
int RunFlashCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    int terminalFd);

}  // namespace mirk3
