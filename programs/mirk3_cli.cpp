// mirk3-cli: the station without a window.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/cli_flash.h"
#include "app/cli_package_report.h"
#include "app/cli_package_commands.h"
#include "app/cli_pit.h"

namespace {

const char USAGE[] =
    "usage: mirk3-cli COMMAND [arguments]\n"
    "  flash --port N [--port N ...] [options]  flash the phones on the given ports\n"
    "  md5 FILE...                              check the MD5 trailers of .md5 packages\n"
    "  verify [--meta-key FILE] FILE...         check the packages' signed meta-data\n"
    "  inspect [--ap FILE ...] [FILE...]        show what a download would send from packages\n"
    "  pit FILE | pit --port N --out FILE       show a partition table, or read a phone's\n"
    "run 'mirk3-cli COMMAND --help' for the arguments of a command\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    (args.empty() ? std::cerr : std::cout) << USAGE;
    return args.empty() ? 2 : 0;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  const bool help = !args.empty() && (args[0] == "--help" || args[0] == "-h");
  if (command == "flash") {
    if (help) {
      std::cout << mirk3::FLASH_USAGE;
      return 0;
    }
    return mirk3::RunFlashCommand(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
  }
  if (command == "pit") {
    if (help) {
      std::cout << mirk3::PIT_USAGE;
      return 0;
    }
    return mirk3::RunPitCommand(args, std::cout, std::cerr);
  }
  if (command == "md5") return mirk3::RunMd5Command(args, std::cout, std::cerr);
  if (command == "inspect") return mirk3::RunInspectCommand(args, std::cout, std::cerr);
  if (command == "verify") return mirk3::RunVerifyCommand(args, std::cout, std::cerr);
  std::cerr << "mirk3-cli: unknown command '" << command << "'\n" << USAGE;
  return 2;
}
