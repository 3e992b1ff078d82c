// mirk3-cli: the station without a window. Each command reads its own arguments (see
// `mirk3-cli COMMAND --help`); this file only picks the command.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_doctor.h"
#include "cli/cli_flash.h"
#include "cli/cli_jig.h"
#include "cli/cli_package_commands.h"
#include "cli/cli_package_report.h"
#include "cli/cli_pit.h"
#include "cli/cli_ports.h"
#include "cli/cli_results.h"
#include "cli/cli_station.h"
#include "cli/cli_udev_rule.h"
#include "cmdline/command_line.h"

namespace {

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  const char* what;
  std::function<int(const Args&)> run;
};

// Standard error, when it is a terminal that can show the live display.
int LiveTerminal() { return isatty(STDERR_FILENO) ? STDERR_FILENO : -1; }

}  // namespace

int main(int argc, char** argv) {
  // A closed standard output (`| head`) is an output that failed, told and gone on from; the
  // signal would end a run mid-flash without a record.
  ::signal(SIGPIPE, SIG_IGN);
  const Command commands[] = {
      {"flash", "flash the phones on the given ports",
       [](const Args& args) {
         return mirk3::RunFlashCommand(args, std::cout, std::cerr, LiveTerminal());
       }},
      {"station", "run the headless factory loop: phones flashed as they are plugged in",
       [](const Args& args) {
         return mirk3::RunStationCommand(args, std::cout, std::cerr, LiveTerminal());
       }},
      {"md5", "check the MD5 trailers of .tar.md5 packages",
       [](const Args& args) { return mirk3::RunMd5Command(args, std::cout, std::cerr); }},
      {"verify", "check the packages' signed meta-data",
       [](const Args& args) { return mirk3::RunVerifyCommand(args, std::cout, std::cerr); }},
      {"inspect", "show what a download would send from packages, without a phone",
       [](const Args& args) { return mirk3::RunInspectCommand(args, std::cout, std::cerr); }},
      {"pit", "show a partition table, or read a phone's and save it",
       [](const Args& args) { return mirk3::RunPitCommand(args, std::cout, std::cerr); }},
      {"ports", "show which slot each phone takes, and watch phones come and go",
       [](const Args& args) { return mirk3::RunPortsCommand(args, std::cout, std::cerr); }},
      {"results", "show the yield, each slot's health and the slots to check, from the database",
       [](const Args& args) { return mirk3::RunResultsCommand(args, std::cout, std::cerr); }},
      {"jig", "check a test jig, set it up or send it an event",
       [](const Args& args) { return mirk3::RunJigCommand(args, std::cout, std::cerr); }},
      {"doctor", "say why phones cannot be reached here, and how to fix it",
       [](const Args& args) { return mirk3::RunDoctorCommand(args, std::cout, std::cerr); }},
      {"udev-rule", "print the udev rule that readies this machine's USB ports for phones",
       [](const Args& args) { return mirk3::RunUdevRuleCommand(args, std::cout, std::cerr); }},
  };
  const auto app = mirk3::NewCommandLine(
      "mirk3-cli",
      "The station without a window: the same log lines as the window, exit status for "
      "scripts.\nRun 'mirk3-cli COMMAND --help' for the options of a command.");
  // One command a line: the words after it are its own, even one that names another command
  // ("--port-dir ports").
  app->require_subcommand(0, 1);
  for (const Command& command : commands) {
    // The command reads every word after its name itself, --help included.
    CLI::App* sub = app->add_subcommand(command.name, command.what)->group("Commands");
    sub->prefix_command()->set_help_flag();
  }
  if (const auto status =
          mirk3::ParseCommandLine(*app, Args(argv + 1, argv + argc), std::cout, std::cerr)) {
    return *status;
  }
  for (const Command& command : commands) {
    const CLI::App* chosen = app->get_subcommand(command.name);
    if (chosen->parsed()) return command.run(chosen->remaining());
  }
  std::cerr << app->help();
  return mirk3::USAGE_ERROR_STATUS;
}
