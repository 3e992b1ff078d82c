// mirk3-pack: makes packages for the station (tar archives, MD5 trailers, signed content
// lists, key pairs). The commands live in tools/pack.
#include <iostream>
#include <string>
#include <vector>

#include "pack/pack_commands.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return mirk3::pack::RunPackCommand(args, std::cout, std::cerr);
}
