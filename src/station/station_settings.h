// The settings file as the station's commands take it: `--ini FILE`, else ./Mirk3.ini in the
// current directory, and what the port table learns from it. Settings a station must not start
// with are refused here, where every face's start-up passes.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ports/port_slot_manager.h"
#include "settings/settings.h"

namespace CLI {
class App;
}  // namespace CLI

namespace mirk3 {

// --ini FILE.
void AddSettingsOption(CLI::App& app, std::string& iniPath);

// How the settings are checked against the ports.
struct SettingsCheck {
  std::string portDir;       // the phones' port dir; empty: DefaultPortDir()
  std::string sysfsRoot;     // empty: SysfsRoot()
  bool refuseUnsafe = true;  // false: only say what a station would refuse (commands that look)
};

// The settings of `iniPath` (empty: ./Mirk3.ini). A file named with --ini that is absent, and
// any file that is there but is not a readable regular file of a settings file's size (a dir,
// a FIFO, a device, /dev/zero), is a mistake: one line on `err` ("<who>: ...") naming the path
// and why, and nothing. A missing ./Mirk3.ini gives the defaults with `present` false; the
// caller decides whether that ends it. Every problem of the file is told on `err`, and so is
// each of StationRefusals, which (unless `check.refuseUnsafe` is false) also gives nothing.
std::optional<Settings> LoadStationSettings(const std::string& iniPath, std::ostream& err,
                                            const std::string& who,
                                            const SettingsCheck& check = {});

// What a station must not start with, one line each naming the lines of `path` it comes from:
// a port kept for two slots (one of them would wait for ever), a jig line on one of the phones'
// ports (the jig's frames would go into a boot loader).
std::vector<std::string> StationRefusals(const Settings& settings, const std::string& path,
                                         const SettingsCheck& check);

// The port dir (`portDir`, may be empty), the scan's vendor and the slot reservations.
PortRules PortRulesFrom(const Settings& settings, const std::string& portDir);

}  // namespace mirk3
