// The command line of mirk3-devsim, turned into a farm configuration; its help text comes from
// the same declarations.
#pragma once

#include <string>
#include <vector>

#include "cmdline/command_line.h"
#include "devsim/farm_config.h"

namespace mirk3::devsim {

// The highest port number a farm serves.
inline constexpr int MAX_PORT = 4095;

// `args` are the arguments after the program name. `config` starts from the defaults (port
// dir from DefaultPortDir(), port 0, protocol 4, the default model, the built-in table).
// kShown carries the help or the version; kMistake the one line that says what is wrong (an
// unknown option, a bad value, a fault for a port that is not served).
ParseOutcome ParseOptions(const std::vector<std::string>& args, FarmConfig* config);

std::string HelpText();

}  // namespace mirk3::devsim
