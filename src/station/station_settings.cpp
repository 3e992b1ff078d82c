#include "station/station_settings.h"

#include <strings.h>

#include <CLI/CLI.hpp>

#include "base/text.h"
#include "jig/jig_settings.h"
#include "ports/port_dir.h"
#include "ports/slot_reservations.h"
#include "ports/usb_identity.h"
#include "serial/serial_line.h"
#include "settings/ini_file.h"

namespace mirk3 {
namespace {

std::string SlotLine(const Settings& settings, const std::string& path, int slot) {
  const auto line = settings.slotLines.find(slot);
  const auto kept = settings.slots.find(slot);
  const std::string value =
      kept == settings.slots.end()
          ? ""
          : (kept->second.usbPath.empty() ? std::to_string(kept->second.port)
                                          : kept->second.usbPath);
  return Format("%s:%d: [Slots] %d=%s", path.c_str(),
                line == settings.slotLines.end() ? 0 : line->second, slot, value.c_str());
}

// The line of [D300Jig] that names the jig's device: Device, else D300COM.
std::string JigLine(const Settings& settings, const std::string& path) {
  const IniFile::Section* jig = settings.file.FindSection("D300Jig");
  for (const char* key : {"Device", "D300COM"}) {
    if (!settings.file.Has("D300Jig", key) || !jig) continue;
    for (const IniFile::Entry& entry : jig->entries) {
      if (strcasecmp(entry.key.c_str(), key) != 0) continue;
      return Format("%s:%d: [D300Jig] %s=%s", path.c_str(), entry.line, entry.key.c_str(),
                    entry.value.c_str());
    }
  }
  return path + ": [D300Jig]";
}

}  // namespace

void AddSettingsOption(CLI::App& app, std::string& iniPath) {
  app.add_option("--ini", iniPath, "the settings file")->type_name("FILE")->default_str(
      SETTINGS_FILE);
}

std::vector<std::string> StationRefusals(const Settings& settings, const std::string& path,
                                         const SettingsCheck& check) {
  const std::string portDir = check.portDir.empty() ? DefaultPortDir() : check.portDir;
  std::vector<std::string> refusals;
  for (const ReservationClash& clash : FindReservationClashes(
           settings.slots, check.sysfsRoot.empty() ? SysfsRoot() : check.sysfsRoot)) {
    refusals.push_back(SlotLine(settings, path, clash.slot) + " and " +
                       SlotLine(settings, path, clash.otherSlot) + " both keep " + clash.port +
                       ": a port waits in one slot only, so slot " +
                       std::to_string(clash.slot) + " would never be used");
  }
  const JigSettings jig = ResolveJigSettings(
      [&settings](const std::string& key) { return settings.file.String("D300Jig", key, ""); },
      portDir);
  const int phonePort = PhonePortOfPath(jig.device, portDir);
  if (phonePort >= 0) {
    refusals.push_back(JigLine(settings, path) + ": the jig's device " + jig.device + " is " +
                       PortName(phonePort) + " of " + portDir +
                       ", a phone's port: the jig line never opens one");
  }
  return refusals;
}

std::optional<Settings> LoadStationSettings(const std::string& iniPath, std::ostream& err,
                                            const std::string& who, const SettingsCheck& check) {
  const std::string path = iniPath.empty() ? SETTINGS_FILE : iniPath;
  const IniFileRead read = IniFile::Read(path);
  if (!read.file && (!read.absent || !iniPath.empty())) {
    err << who << ": cannot read the settings file " << path << ": " << read.problem << "\n";
    return std::nullopt;
  }
  Settings settings = LoadSettings(read.file ? *read.file : IniFile());
  for (const SettingsProblem& problem : settings.problems) {
    err << who << ": " << path << ":" << problem.line << ": " << problem.text << "\n";
  }
  const std::vector<std::string> refusals = StationRefusals(settings, path, check);
  for (const std::string& refusal : refusals) err << who << ": " << refusal << "\n";
  if (!refusals.empty() && check.refuseUnsafe) return std::nullopt;
  return settings;
}

PortRules PortRulesFrom(const Settings& settings, const std::string& portDir) {
  PortRules rules;
  rules.portDir = portDir;
  rules.usbVendorId = settings.usbVendorId;
  rules.slots = settings.slots;
  return rules;
}

}  // namespace mirk3
