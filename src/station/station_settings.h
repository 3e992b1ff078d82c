// The settings file as the station's commands take it: `--ini FILE`, else ./Mirk3.ini in the
// current directory, and what the port table learns from it.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "ports/port_slot_manager.h"
#include "settings/settings.h"

namespace CLI {
class App;
}  // namespace CLI

namespace mirk3 {

// --ini FILE.
void AddSettingsOption(CLI::App& app, std::string& iniPath);

// The settings of `iniPath` (empty: ./Mirk3.ini). A file named with --ini that cannot be read
// is a mistake: one line on `err` ("<who>: ...") and nothing. A missing ./Mirk3.ini gives the defaults with
// `present` false; the caller decides whether that ends it. Every problem of the file is told
// on `err`.
std::optional<Settings> LoadStationSettings(const std::string& iniPath, std::ostream& err,
                                            const std::string& who);

// The port dir (`portDir`, may be empty), the scan's vendor and the slot reservations.
PortRules PortRulesFrom(const Settings& settings, const std::string& portDir);

}  // namespace mirk3
