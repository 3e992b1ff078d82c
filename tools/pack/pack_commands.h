// The commands of mirk3-pack, the package tool: md5 trailers, key pairs, signed content
// lists and plain tar archives. Exit status: 0 done, 1 failed (a message on `err`), 2 usage
// error (the usage text on `err`).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mirk3::pack {

// `args` are the command line after the program name, the command word first.
int RunPackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mirk3::pack
