#include "cli/cli_flash.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <set>

#include "base/text.h"
#include "cli/cli_view.h"
#include "cmdline/command_line.h"
#include "packages/one_click_program.h"
#include "serial/serial_line.h"
#include "settings/settings.h"
#include "station/command_options.h"
#include "station/headless.h"
#include "station/open_station.h"
#include "station/station.h"

namespace mirk3 {

DownloadOptions DefaultRunOptions() {
  const Settings defaults;
  DownloadOptions options;
  options.Flags() = defaults.options;
  options.FactoryResetTime = defaults.factoryResetTime;
  options.PacketSize = defaults.packetSize;
  return options;
}

namespace {

// Every port given takes a slot of its own: more ports than slots, or one port twice, would
// leave ports that no worker runs.
bool CheckPorts(const std::vector<int>& ports, std::string* error) {
  if (ports.empty()) {
    *error = "no port given (--port LIST)";
    return false;
  }
  if (ports.size() > static_cast<size_t>(DISPLAYED_SLOTS)) {
    *error = Format("%zu ports given, but the station has %d slots", ports.size(), DISPLAYED_SLOTS);
    return false;
  }
  std::set<int> seen;
  for (int port : ports) {
    if (!seen.insert(port).second) {
      *error = Format("port %d is given twice", port);
      return false;
    }
  }
  return true;
}

// A choice of the command line that a One Click program makes itself (the engine's
// CopyOptions): the option, whether the program does otherwise than it asks, and what the
// program does instead.
struct CarriedChoice {
  const char* option;
  bool (*overridden)(const DownloadOptions& asked, const OneClickTrailer& carried);
  const char* instead;
};

constexpr bool Always(const DownloadOptions&, const OneClickTrailer&) { return true; }

constexpr CarriedChoice CARRIED_CHOICES[] = {
    {"--bl", Always, "this program flashes the packages it carries"},
    {"--ap", Always, "this program flashes the packages it carries"},
    {"--cp", Always, "this program flashes the packages it carries"},
    {"--csc", Always, "this program flashes the packages it carries"},
    {"--ums", Always, "this program flashes the packages it carries"},
    {"--pit", Always, "this program uploads only the partition table it carries"},
    {"--repartition",
     [](const DownloadOptions&, const OneClickTrailer& c) { return !c.rePartition; },
     "this program does not re-partition"},
    {"--no-auto-reboot",
     [](const DownloadOptions&, const OneClickTrailer& c) { return c.autoReboot != 0; },
     "this program reboots the phone after the download"},
    {"--efs-clear",
     [](const DownloadOptions&, const OneClickTrailer& c) { return !c.phoneEfsClear; },
     "this program does not clear the EFS"},
    {"--boot-update",
     [](const DownloadOptions&, const OneClickTrailer& c) { return !c.phoneBootUpdate; },
     "this program does not update the boot loader"},
    {"--nand-erase", Always, "a One Click program never erases the whole phone"},
    {"--t-flash", Always, "a One Click program never sends the T flash request"},
    {"--rtn", Always, "a One Click program never sends the RTN request"},
    {"--reset-time",
     [](const DownloadOptions& asked, const OneClickTrailer&) {
       return asked.FactoryResetTime != 0;
     },
     "a One Click program never pauses after closing"},
};

// When this program carries its own packages, one line on `err` for every option given that
// it overrides with another choice; an option that asks what the program does anyway is not
// named.
void NameIgnoredOptions(const FlashRequest& request, std::ostream& err) {
  const std::optional<OneClickTrailer> carried =
      ReadOneClickTrailer(request.context.ownExecutablePath);
  if (!carried) return;
  const auto& given = request.givenOptions;
  for (const CarriedChoice& choice : CARRIED_CHOICES) {
    if (std::find(given.begin(), given.end(), choice.option) == given.end()) continue;
    if (!choice.overridden(request.options, *carried)) continue;
    err << "mirk3-cli flash: " << choice.option << " ignored: " << choice.instead << "\n";
  }
}

}  // namespace

std::optional<int> ParseFlashArguments(const std::vector<std::string>& args, FlashRequest* request,
                                       std::ostream& out, std::ostream& err) {
  request->options = DefaultRunOptions();
  const auto app = NewCommandLine(
      "mirk3-cli flash",
      "Flashes the phones on the given ports as the window's Start does: every .md5 package is "
      "checked first, the ports take the first free slots in the order given, one worker runs "
      "each port, and the log ends with the run's summary.\nExit status: 0 every port passed, "
      "1 any failed, 2 usage error, nothing chosen, an .md5 package refused or a port in use by "
      "another station (each port given is locked), 3 the log could not be written to standard "
      "output (closed or full).");
  AddSlotOptions(*app, request->options);
  AddRunOptions(*app, request->options);
  AddMetaKeyOption(*app, request->metaKeyFile);
  AddLineOptions(*app, request->ports, request->context);
  if (const auto status = ParseCommandLine(*app, args, out, err)) return status;
  for (const CLI::Option* option : app->get_options()) {
    if (option->count() > 0) request->givenOptions.push_back(option->get_name());
  }
  std::string problem;
  if (!CheckPorts(request->ports, &problem)) return ReportUsageMistake(*app, err, problem);
  return std::nullopt;
}

int RunFlashCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    int terminalFd) {
  FlashRequest request;
  if (const auto status = ParseFlashArguments(args, &request, out, err)) return *status;
  if (!LoadMetaKey(request.metaKeyFile, request.context, err, "mirk3-cli flash")) return 2;
  NameIgnoredOptions(request, err);
  // Only the ports given are this run's: another station may serve the rest of the dir.
  std::vector<std::unique_ptr<StationLock>> locks;
  const std::string portDir =
      request.context.portDir.empty() ? DefaultPortDir() : request.context.portDir;
  for (int port : request.ports) {
    auto lock = LockPort(portDir, port);
    if (!lock) {
      err << "mirk3-cli flash: " << lock.error().text << "\n";
      return kExitNothingRan;
    }
    locks.push_back(std::move(lock).value());
  }
  const auto application = EnsureCoreApplication();
  CliView view(out, err, terminalFd);
  OutputHealth health("mirk3-cli flash");
  health.SetErrorOutput([&view](const std::string& line) { view.ShowError(line); });
  view.SetOutputHealth(&health);
  StationCore core(&view, request.context);
  Station& station = core.Core();
  health.SetLog([&station](const std::string& line) { station.LogLine(line); });
  if (!ChooseInStation(station, request.options)) return 2;
  for (int port : request.ports) {
    if (station.Ports().PlacePort(port) < 0) {
      err << "mirk3-cli flash: " << PortName(port) << " got no slot; no run starts\n";
      return 2;
    }
  }
  if (!station.Start()) return 2;
  WaitForRunEnd(station);
  view.FinishRun();
  const bool everyPortPassed =
      station.Failed() == 0 && station.Succeeded() == static_cast<int>(request.ports.size());
  return ExitStatusWith(everyPortPassed ? kExitAllPassed : kExitPhoneFailed, health);
}

}  // namespace mirk3
