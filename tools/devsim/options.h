// The command line of mirk3-devsim, turned into a farm configuration, and its --help text.
#pragma once

#include <string>
#include <vector>

#include "devsim/farm_config.h"

namespace mirk3::devsim {

enum class Parsed { kRun, kHelp, kError };

// `args` are the arguments after the program name. `config` starts from the defaults (port
// dir from DefaultPortDir(), port 0, protocol 4, the default model, the built-in table).
Parsed ParseOptions(const std::vector<std::string>& args, FarmConfig* config, std::string* error);

std::string HelpText();

}  // namespace mirk3::devsim
