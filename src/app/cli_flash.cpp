#include "app/cli_flash.h"

#include <charconv>
#include <functional>
#include <map>
#include <set>

#include "app/cli_view.h"
#include "app/station.h"
#include "base/text.h"
#include "engine/report_pump.h"
#include "packages/meta_data_key.h"
#include "serial/serial_line.h"

namespace mirk3 {

const char FLASH_USAGE[] =
    "usage: mirk3-cli flash --port N [--port N ...] [options]\n"
    "packages:   --bl FILE --ap FILE --cp FILE --csc FILE --ums FILE --pit FILE\n"
    "options:    --repartition --no-auto-reboot --reset-time SECONDS --no-reset-time\n"
    "            --device-info --flash-lock --nand-erase --t-flash --efs-clear\n"
    "            --boot-update --rtn --packet-size BYTES --meta-key FILE\n"
    "ports:      --port-dir DIR (default $MIRK3_PORT_DIR or /dev) --open-attempts N\n"
    "            --first-byte-timeout-ms MS\n";

DownloadOptions DefaultRunOptions() {
  DownloadOptions options;
  options.AutoReboot = 1;
  options.FResetTime = 1;
  options.FactoryResetTime = 1;
  options.PacketSize = 1048576;
  return options;
}

namespace {

bool ParseInt(const std::string& text, long long min, long long max, long long* value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end && *value >= min && *value <= max;
}

using Flag = int32_t DownloadOptions::*;

const std::map<std::string, std::pair<Flag, int32_t>>& FlagOptions() {
  static const std::map<std::string, std::pair<Flag, int32_t>> flags = {
      {"--repartition", {&DownloadOptions::RePartition, 1}},
      {"--no-auto-reboot", {&DownloadOptions::AutoReboot, 0}},
      {"--no-reset-time", {&DownloadOptions::FResetTime, 0}},
      {"--device-info", {&DownloadOptions::deviceInfo, 1}},
      {"--flash-lock", {&DownloadOptions::FlashLock, 1}},
      {"--nand-erase", {&DownloadOptions::NandErase, 1}},
      {"--t-flash", {&DownloadOptions::TFlash, 1}},
      {"--efs-clear", {&DownloadOptions::PhoneEFSClear, 1}},
      {"--boot-update", {&DownloadOptions::PhoneBootUpdate, 1}},
      {"--rtn", {&DownloadOptions::rtnForSprint, 1}},
  };
  return flags;
}

int SlotOfOption(const std::string& name) {
  static const std::map<std::string, int> slots = {
      {"--bl", BL}, {"--ap", AP}, {"--cp", CP}, {"--csc", CSC}, {"--ums", UMS}};
  const auto it = slots.find(name);
  return it == slots.end() ? -1 : it->second;
}

// Applies one option that takes a value; false with `error` for a bad value or name.
bool ApplyValueOption(const std::string& name, const std::string& value, FlashRequest* r,
                      std::string* error) {
  long long number = 0;
  DownloadOptions& o = r->options;
  if (const int slot = SlotOfOption(name); slot >= 0) {
    o.slotEnabled[slot] = 1;
    o.slotPath[slot] = value;
  } else if (name == "--pit") {
    o.pitPath = value;
  } else if (name == "--port-dir") {
    r->context.portDir = value;
  } else if (name == "--meta-key") {
    r->metaKeyFile = value;
  } else if (name == "--port" && ParseInt(value, 0, 255, &number)) {
    r->ports.push_back(static_cast<int>(number));
  } else if (name == "--reset-time" && ParseInt(value, 0, 3600, &number)) {
    o.FResetTime = 1;
    o.FactoryResetTime = static_cast<int32_t>(number);
  } else if (name == "--packet-size" && ParseInt(value, 0, INT32_MAX, &number)) {
    o.PacketSize = static_cast<int32_t>(number);
  } else if (name == "--open-attempts" && ParseInt(value, 1, 1000000, &number)) {
    r->context.timing.openAttempts = static_cast<int>(number);
  } else if (name == "--first-byte-timeout-ms" && ParseInt(value, 1, INT32_MAX, &number)) {
    r->context.timing.firstByteTimeout = Millis(number);
  } else {
    *error = "bad value for " + name + ": '" + value + "'";
    return false;
  }
  return true;
}

bool TakesValue(const std::string& name) {
  return SlotOfOption(name) >= 0 || name == "--pit" || name == "--port-dir" ||
         name == "--meta-key" || name == "--port" || name == "--reset-time" ||
         name == "--packet-size" || name == "--open-attempts" || name == "--first-byte-timeout-ms";
}

// Every port given takes a slot of its own: more ports than slots, or one port twice, would
// leave ports that no worker runs.
bool CheckPorts(const std::vector<int>& ports, std::string* error) {
  if (ports.empty()) {
    *error = "no port given (--port N)";
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

// Every package given is picked as the window picks it. False when any was refused (an MD5
// package whose trailer does not verify); every one is checked all the same.
bool PickGivenPackages(CStation& station, DownloadOptions& options) {
  bool allTaken = true;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (!options.slotEnabled[slot]) continue;
    const std::string path = options.slotPath[slot];
    allTaken = station.PickPackage(slot, path, options) && allTaken;
  }
  return allTaken;
}

}  // namespace

bool ParseFlashArguments(const std::vector<std::string>& args, FlashRequest* request,
                         std::string* error) {
  request->options = DefaultRunOptions();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (const auto flag = FlagOptions().find(name); flag != FlagOptions().end()) {
      request->options.*(flag->second.first) = flag->second.second;
    } else if (TakesValue(name)) {
      if (i + 1 >= args.size()) {
        *error = name + " needs a value";
        return false;
      }
      if (!ApplyValueOption(name, args[++i], request, error)) return false;
    } else {
      *error = "unknown option '" + name + "'";
      return false;
    }
  }
  return CheckPorts(request->ports, error);
}

int RunFlashCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    bool liveProgress) {
  FlashRequest request;
  std::string error;
  if (!ParseFlashArguments(args, &request, &error)) {
    err << "mirk3-cli flash: " << error << "\n" << FLASH_USAGE;
    return 2;
  }
  CCliView view(out, err, liveProgress);
  if (!request.metaKeyFile.empty() &&
      !LoadMetaDataKeyFile(request.metaKeyFile, request.context.metaDataKey, error)) {
    err << "mirk3-cli flash: " << error << "\n";
    return 2;
  }
  CStation* stationPtr = nullptr;
  CReportPump pump([&stationPtr](int message, const EngineReport& report) {
    stationPtr->HandleReport(message, report);
  });
  CStation station(&view, &pump, request.context);
  stationPtr = &station;
  if (!PickGivenPackages(station, request.options)) return 2;
  for (int port : request.ports) {
    if (station.Ports().PlacePort(port) < 0) {
      err << "mirk3-cli flash: " << PortName(port) << " got no slot; no run starts\n";
      return 2;
    }
  }
  if (!station.Start(request.options)) return 2;
  pump.PumpUntil([&station] { return !station.Busy(); });
  view.FinishProgress();
  station.Ports().ReleaseRun();
  const bool everyPortPassed =
      station.Failed() == 0 && station.Succeeded() == static_cast<int>(request.ports.size());
  return everyPortPassed ? 0 : 1;
}

}  // namespace mirk3
