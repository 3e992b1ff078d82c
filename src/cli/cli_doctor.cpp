#include "cli/cli_doctor.h"

#include <CLI/CLI.hpp>

#include "station/headless.h"
#include "station/station_settings.h"
#include "cmdline/command_line.h"
#include "serial/serial_line.h"
#include "settings/settings.h"

namespace mirk3 {
namespace {

using Check = std::vector<Finding> (*)(const DoctorScene&);

// In the order an operator mends them: the files first, then the ports, then what else holds
// or disturbs them, then the bus.
constexpr Check CHECKS[] = {CheckSettingsFile, CheckStationSettings, CheckMetaDataKey,
                            CheckPortDir,      CheckPortAccess,      CheckModemManager,
                            CheckBrltty,       CheckInotifyLimits,   CheckSessionBus};

}  // namespace

int RunDoctor(const DoctorScene& scene, std::ostream& out) {
  bool failed = false;
  for (const Check check : CHECKS) {
    for (const Finding& finding : check(scene)) {
      failed = failed || finding.health == Health::Fail;
      out << FindingLine(finding) << '\n' << std::flush;
    }
  }
  return failed ? 1 : 0;
}

int RunDoctorCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const auto app = NewCommandLine(
      "mirk3-cli doctor",
      "Checks what a Linux station needs to reach its phones and says, one line each, OK, WARN "
      "or FAIL with the fix: the settings file, the meta-data key, the port dir, each ttyACM "
      "port's owner, group and mode for this user, ModemManager, brltty, the inotify limits "
      "and the D-Bus session bus. It changes nothing.\nExit status: 0 nothing is FAIL, 1 "
      "something is.");
  DoctorScene scene;
  scene.portDir = DefaultPortDir();
  AddSettingsOption(*app, scene.iniPath);
  app->add_option("--port-dir", scene.portDir, "where the ports' device nodes are")
      ->type_name("DIR")
      ->default_str("$MIRK3_PORT_DIR, else /dev");
  app->add_option("--meta-key", scene.metaKeyFile,
                  "the public key file to check instead of the settings' MetaDataKey")
      ->type_name("FILE");
  if (const auto status = ParseCommandLine(*app, args, out, err)) return *status;
  if (scene.iniPath.empty()) scene.iniPath = SETTINGS_FILE;
  scene.user = CurrentUser();
  const auto application = EnsureCoreApplication();
  return RunDoctor(scene, out);
}

}  // namespace mirk3
