#include "station/station_settings.h"

#include <CLI/CLI.hpp>

#include "settings/ini_file.h"

namespace mirk3 {

void AddSettingsOption(CLI::App& app, std::string& iniPath) {
  app.add_option("--ini", iniPath, "the settings file")->type_name("FILE")->default_str(
      SETTINGS_FILE);
}

std::optional<Settings> LoadStationSettings(const std::string& iniPath, std::ostream& err,
                                            const std::string& who) {
  const std::string path = iniPath.empty() ? SETTINGS_FILE : iniPath;
  const std::optional<IniFile> file = IniFile::Load(path);
  if (!file && !iniPath.empty()) {
    err << who << ": cannot read the settings file " << path << "\n";
    return std::nullopt;
  }
  Settings settings = LoadSettings(file ? *file : IniFile());
  for (const SettingsProblem& problem : settings.problems) {
    err << who << ": " << path << ":" << problem.line << ": " << problem.text << "\n";
  }
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
