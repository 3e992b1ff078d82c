// The checks of `mirk3-cli doctor`: what stops a Linux station from reaching its phones, each
// found and explained with its fix. Every check only reads (files, /proc, sysfs, udev's
// database, the port dir) and changes nothing: it does not even open a port, since opening a
// terminal raises its modem lines under a boot loader that may be in a handshake. Where the
// checks look and whom they check for are given, so that a test can put them over a
// temporary tree and a user other than the one running it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace mirk3 {

enum class Health { Ok, Warn, Fail };

// One line of the doctor's report.
struct Finding {
  Health health = Health::Ok;
  std::string text;
  std::string fix;  // what to do; empty for OK
};

// "OK   text", "WARN text — fix: fix", "FAIL text — fix: fix".
std::string FindingLine(const Finding& finding);

// Whom the ports must be open to.
struct UserIdentity {
  uid_t uid = 0;
  std::string name;
  std::vector<gid_t> groups;        // the groups this login has (the primary one included)
  std::vector<gid_t> listedGroups;  // the groups the group database gives the user now
  bool ownProcess = false;          // this process: the kernel is asked too (ACLs, mounts)
};

// The user running this process.
UserIdentity CurrentUser();

// Where the checks look.
struct DoctorScene {
  std::string portDir;
  std::string iniPath;      // the settings file
  std::string metaKeyFile;  // --meta-key; empty: the settings' MetaDataKey
  std::string procRoot = "/proc";
  std::string sysfsRoot;  // empty: SysfsRoot()
  std::string udevDataDir = "/run/udev/data";
  std::vector<std::string> udevRuleDirs = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                           "/usr/local/lib/udev/rules.d", "/usr/lib/udev/rules.d",
                                           "/lib/udev/rules.d"};
  std::vector<std::string> brlttyPaths = {"/usr/bin/brltty", "/bin/brltty", "/usr/sbin/brltty",
                                          "/sbin/brltty"};
  UserIdentity user;
};

// The port dir exists and inotify can watch it.
std::vector<Finding> CheckPortDir(const DoctorScene& scene);
// One line per ttyACM<n> of the port dir: is it a terminal device (not a regular file, a FIFO
// or a link to /dev/null), can the user read and write it, and if not, why.
std::vector<Finding> CheckPortAccess(const DoctorScene& scene);
// Whether a port node with this owner, group and mode is open to `user` for reading and
// writing, and the finding that says so (`name` is the port's display name).
Finding PortAccess(const std::string& name, const std::string& path, const UserIdentity& user);
// ModemManager running, and whether it leaves the station's ports alone.
std::vector<Finding> CheckModemManager(const DoctorScene& scene);
std::vector<Finding> CheckBrltty(const DoctorScene& scene);
std::vector<Finding> CheckInotifyLimits(const DoctorScene& scene);
// Mirk3.ini present and read, its unknown keys and values that are no numbers named.
std::vector<Finding> CheckSettingsFile(const DoctorScene& scene);
// What the station would refuse to start with (a port kept for two slots, a jig on a phone's
// port), an absurd FactoryResetTime, and a LogDir the station cannot write.
std::vector<Finding> CheckStationSettings(const DoctorScene& scene);
// The meta-data key file readable and an RSA-2048 public key.
std::vector<Finding> CheckMetaDataKey(const DoctorScene& scene);
// The session bus answers, within a few seconds.
std::vector<Finding> CheckSessionBus(const DoctorScene& scene);

}  // namespace mirk3
