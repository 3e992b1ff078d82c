// Calls one of the station's command functions (arguments, standard output, standard error)
// as its program would, and gives back its exit status and both outputs.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace mirk3::test {

struct CommandOutcome {
  int status = -1;
  std::string out;
  std::string err;
};

template <typename Command>
CommandOutcome CallCommand(Command command, const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = command(args, out, err);
  return {status, out.str(), err.str()};
}

}  // namespace mirk3::test
