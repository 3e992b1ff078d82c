// The commands of mirk3-pack, the package tool: md5 trailers, key pairs, signed content
// lists, plain tar archives and One Click programs, each with its options and --help. Exit
// status: 0 done (or help shown), 1 failed (a message on `err`), 2 usage error (one line on
// `err` for a mistake of the parser, else the problem and the command's usage line).
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace mirk3::pack {

// `args` are the command line after the program name, the command word first.
int RunPackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Reads the line as RunPackCommand does without running its command: the exit status when the
// parser alone decides (help or version shown, a mistake, no command), nothing when a command
// would run. Nothing is read or written but `out` and `err`.
std::optional<int> ParsePackCommand(const std::vector<std::string>& args, std::ostream& out,
                                    std::ostream& err);

}  // namespace mirk3::pack
