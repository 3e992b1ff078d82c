#include "cli/doctor_checks.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusError>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <future>
#include <thread>

#include "station/bus_probe.h"
#include "cli/cli_udev_rule.h"
#include "base/text.h"
#include "packages/meta_data_key.h"
#include "ports/port_dir.h"
#include "serial/serial_line.h"
#include "settings/settings.h"

namespace mirk3 {
namespace {

namespace fs = std::filesystem;

constexpr char RULE_FIX[] =
    "mirk3-cli udev-rule | sudo tee /etc/udev/rules.d/60-mirk3.rules, then sudo udevadm control "
    "--reload && sudo udevadm trigger --subsystem-match=tty";

Finding Ok(std::string text) { return {Health::Ok, std::move(text), ""}; }
Finding Warn(std::string text, std::string fix) {
  return {Health::Warn, std::move(text), std::move(fix)};
}
Finding Fail(std::string text, std::string fix) {
  return {Health::Fail, std::move(text), std::move(fix)};
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string GroupName(gid_t gid) {
  const group* g = getgrgid(gid);
  return g ? g->gr_name : std::to_string(gid);
}

std::string UserName(uid_t uid) {
  const passwd* p = getpwuid(uid);
  return p ? p->pw_name : std::to_string(uid);
}

bool Has(const std::vector<gid_t>& groups, gid_t gid) {
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// The ports of the port dir, by number, with their paths.
std::vector<int> PresentPorts(const DoctorScene& scene) {
  std::vector<int> ports;
  ListPortDir(scene.portDir, &ports);
  return ports;
}

std::string PortPath(const DoctorScene& scene, int port) {
  return (fs::path(scene.portDir) / PortName(port)).string();
}

// What the kernel would grant the user by the node's owner, group and mode: the owner's bits
// when the user owns it, else the group's when the user is in its group, else the others'.
bool ModeGrantsReadWrite(const struct stat& st, const UserIdentity& user) {
  if (user.uid == 0) return true;
  mode_t bits = st.st_mode & 07;
  if (st.st_uid == user.uid) {
    bits = (st.st_mode >> 6) & 07;
  } else if (Has(user.groups, st.st_gid)) {
    bits = (st.st_mode >> 3) & 07;
  }
  return (bits & 06) == 06;
}

// Why the mode refuses the user, and what mends it.
Finding ExplainRefusal(const std::string& name, const struct stat& st, const UserIdentity& user) {
  const std::string group = GroupName(st.st_gid);
  const std::string node =
      Format("%s is %s:%s mode %04o", name.c_str(), UserName(st.st_uid).c_str(), group.c_str(),
             static_cast<unsigned>(st.st_mode & 07777));
  if (st.st_uid != user.uid && !Has(user.groups, st.st_gid)) {
    if (Has(user.listedGroups, st.st_gid)) {
      return Fail(
          node + "; " + user.name + " was added to group " + group + " after this login began",
          "log out and in again (or run: newgrp " + group + ")");
    }
    if ((st.st_mode & 060) == 060) {
      return Fail(node + " and " + user.name + " is not in group " + group,
                  "sudo usermod -aG " + group + " " + user.name + ", then log out and in again");
    }
  }
  return Fail(node + ": not readable and writable for " + user.name,
              std::string("install the udev rule (it makes the ports group ") + UDEV_DEFAULT_GROUP +
                  ", mode 0660): " + RULE_FIX);
}

bool UdevIgnoresForModemManager(const DoctorScene& scene, const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const std::string record =
      (fs::path(scene.udevDataDir) / Format("c%u:%u", major(st.st_rdev), minor(st.st_rdev)))
          .string();
  std::ifstream in(record);
  std::string line;
  while (std::getline(in, line)) {
    if (line == "E:ID_MM_DEVICE_IGNORE=1") return true;
  }
  return false;
}

bool ProcessRunning(const DoctorScene& scene, const std::string& command) {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(scene.procRoot, ec)) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    if (FirstLine((entry.path() / "comm").string()) == command) return true;
  }
  return false;
}

bool RuleInstalled(const DoctorScene& scene) {
  return std::any_of(
      scene.udevRuleDirs.begin(), scene.udevRuleDirs.end(),
      [](const std::string& dir) { return fs::exists(fs::path(dir) / UDEV_RULE_FILE); });
}

std::string KindOfNode(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISBLK(mode)) return "a block device";
  return "not a device";
}

// A terminal's driver: pseudo-terminals, USB modems and adapters, the platform's serial ports.
bool IsTerminalDriver(const std::string& name) {
  return name == "pts" || name.find("tty") != std::string::npos;
}

// The character device drivers by major number, as /proc/devices lists them ("1 mem",
// "136 pts", "166 ttyACM").
std::map<unsigned, std::string> CharDrivers(const DoctorScene& scene) {
  std::map<unsigned, std::string> drivers;
  std::ifstream in((fs::path(scene.procRoot) / "devices").string());
  std::string line;
  bool inChar = false;
  while (std::getline(in, line)) {
    if (line.rfind("Character devices:", 0) == 0 || line.rfind("Block devices:", 0) == 0) {
      inChar = line[0] == 'C';
      continue;
    }
    unsigned number = 0;
    char name[64] = {};
    if (inChar && std::sscanf(line.c_str(), "%u %63s", &number, name) == 2) {
      // A major shared by several ("4 /dev/vc/0", "4 tty") is a terminal's when one is.
      std::string& known = drivers[number];
      if (known.empty() || IsTerminalDriver(name)) known = name;
    }
  }
  return drivers;
}

}  // namespace

std::string FindingLine(const Finding& f) {
  static const char* const TAGS[] = {"OK   ", "WARN ", "FAIL "};
  std::string line = TAGS[static_cast<int>(f.health)] + f.text;
  if (!f.fix.empty()) line += " \u2014 fix: " + f.fix;
  return line;
}

UserIdentity CurrentUser() {
  UserIdentity user;
  user.uid = geteuid();
  user.name = UserName(user.uid);
  user.ownProcess = true;
  const int count = getgroups(0, nullptr);
  user.groups.resize(count > 0 ? count : 0);
  if (count > 0) user.groups.resize(std::max(0, getgroups(count, user.groups.data())));
  user.groups.push_back(getegid());
  const passwd* p = getpwuid(user.uid);
  int listed = 64;
  user.listedGroups.resize(listed);
  if (p && getgrouplist(p->pw_name, p->pw_gid, user.listedGroups.data(), &listed) < 0) {
    user.listedGroups.resize(listed);
    getgrouplist(p->pw_name, p->pw_gid, user.listedGroups.data(), &listed);
  }
  user.listedGroups.resize(p ? listed : 0);
  return user;
}

std::vector<Finding> CheckPortDir(const DoctorScene& scene) {
  std::error_code ec;
  if (fs::exists(scene.portDir, ec) && !fs::is_directory(scene.portDir, ec)) {
    return {Fail("the port dir " + scene.portDir + " is a file, not a directory",
                 "give the dir the ports are in with --port-dir or MIRK3_PORT_DIR")};
  }
  if (!fs::is_directory(scene.portDir)) {
    return {Fail("the port dir " + scene.portDir + " does not exist",
                 "give the right one with --port-dir or MIRK3_PORT_DIR")};
  }
  PortWatcher watcher;
  if (const Status watched = watcher.Start(scene.portDir); !watched) {
    return {Fail(
        "the port dir " + scene.portDir + " cannot be watched: " + watched.error().text,
        "raise fs.inotify.max_user_instances (sudo sysctl fs.inotify.max_user_instances=512)")};
  }
  return {Ok("the port dir " + scene.portDir + " exists and can be watched")};
}

Finding PortAccess(const std::string& name, const std::string& path, const UserIdentity& user) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    return Fail(name + " (" + path + ") cannot be looked at: " + std::strerror(errno),
                "plug the phone in again; a dangling link is left by a device gone");
  }
  if (!S_ISCHR(st.st_mode)) {
    return Fail(name + " (" + path + ") is " + KindOfNode(st.st_mode) + ", not a serial device",
                "remove it: the station would take it for a phone and fail on it");
  }
  if (!ModeGrantsReadWrite(st, user)) return ExplainRefusal(name, st, user);
  // The mode allows it; the kernel may still refuse (an ACL, a read-only mount, a security
  // module), which only it can say, and only for this process's own user.
  if (user.ownProcess && faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
    return Fail(name + " is refused to " + user.name + ": " + std::strerror(errno),
                "check its ACL (getfacl " + path + ") and how /dev is mounted");
  }
  return Ok(Format("%s can be read and written by %s (%s:%s mode %04o)", name.c_str(),
                   user.name.c_str(), UserName(st.st_uid).c_str(), GroupName(st.st_gid).c_str(),
                   static_cast<unsigned>(st.st_mode & 07777)));
}

std::vector<Finding> CheckPortAccess(const DoctorScene& scene) {
  const std::vector<int> ports = PresentPorts(scene);
  if (ports.empty()) {
    return {Warn("no ttyACM port in " + scene.portDir + " now",
                 "plug in a phone in download mode; mirk3-cli ports --watch shows it arrive")};
  }
  const std::map<unsigned, std::string> drivers = CharDrivers(scene);
  std::vector<Finding> findings;
  for (int port : ports) {
    const std::string path = PortPath(scene, port);
    struct stat st {};
    const auto driver =
        stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) ? drivers.find(major(st.st_rdev))
                                                             : drivers.end();
    if (driver != drivers.end() && !IsTerminalDriver(driver->second)) {
      findings.push_back(Fail(Format("%s (%s) is the %s device %u:%u, not a serial port",
                                     PortName(port).c_str(), path.c_str(),
                                     driver->second.c_str(), major(st.st_rdev),
                                     minor(st.st_rdev)),
                              "remove it: the station would take it for a phone"));
      continue;
    }
    findings.push_back(PortAccess(PortName(port), path, scene.user));
  }
  return findings;
}

std::vector<Finding> CheckModemManager(const DoctorScene& scene) {
  if (!ProcessRunning(scene, "ModemManager")) return {Ok("ModemManager is not running")};
  std::string probed, ignored;
  for (int port : PresentPorts(scene)) {
    std::string& list = UdevIgnoresForModemManager(scene, PortPath(scene, port)) ? ignored : probed;
    list += (list.empty() ? "" : ", ") + PortName(port);
  }
  if (!probed.empty()) {
    return {Warn("ModemManager runs and may send AT probes to " + probed +
                     " in the middle of a boot loader's handshake",
                 std::string("install the udev rule: ") + RULE_FIX +
                     "; or stop it: sudo systemctl disable --now ModemManager")};
  }
  if (!ignored.empty()) return {Ok("ModemManager runs and leaves " + ignored + " alone")};
  if (RuleInstalled(scene)) {
    return {Ok(std::string("ModemManager runs; the udev rule ") + UDEV_RULE_FILE +
               " tells it to leave the phones alone")};
  }
  return {Warn("ModemManager runs and no udev rule tells it to leave the phones alone",
               std::string("install the udev rule: ") + RULE_FIX)};
}

std::vector<Finding> CheckBrltty(const DoctorScene& scene) {
  for (const std::string& path : scene.brlttyPaths) {
    if (!fs::exists(path)) continue;
    return {Warn("brltty is installed (" + path + "); it claims some USB serial devices",
                 "sudo apt purge brltty, unless a braille display is used here")};
  }
  return {Ok("brltty is not installed")};
}

std::vector<Finding> CheckInotifyLimits(const DoctorScene& scene) {
  const fs::path dir = fs::path(scene.procRoot) / "sys/fs/inotify";
  const std::string watches = FirstLine((dir / "max_user_watches").string());
  const std::string instances = FirstLine((dir / "max_user_instances").string());
  if (watches.empty() || instances.empty()) {
    return {Warn("the inotify limits cannot be read from " + dir.string(),
                 "check that the kernel has inotify (CONFIG_INOTIFY_USER)")};
  }
  // The station needs one instance and one watch; desktop programs take many instances.
  const std::string text =
      "inotify allows " + watches + " watches and " + instances + " instances per user";
  if (std::atol(watches.c_str()) < 16 || std::atol(instances.c_str()) < 16) {
    return {
        Warn(text + ": little room beside the desktop's own",
             "sudo sysctl fs.inotify.max_user_instances=512 fs.inotify.max_user_watches=65536")};
  }
  return {Ok(text)};
}

std::vector<Finding> CheckMetaDataKey(const DoctorScene& scene) {
  std::string keyFile = scene.metaKeyFile;
  if (keyFile.empty()) keyFile = LoadSettingsFile(scene.iniPath).metaDataKey;
  if (keyFile.empty()) {
    return {IsValidMetaDataKey(BuiltInMetaDataKey())
                ? Ok("the meta-data key is the built-in RSA-2048 key")
                : Fail("the built-in meta-data key is not an RSA-2048 key", "rebuild the station")};
  }
  std::string keyText, error;
  if (!LoadMetaDataKeyFile(keyFile, keyText, error)) {
    return {Fail(error,
                 "name a readable PEM or base64 DER public key in [Option] MetaDataKey or "
                 "--meta-key")};
  }
  if (!IsValidMetaDataKey(keyText)) {
    return {Fail("the meta-data key " + keyFile + " is not a 2048-bit RSA public key",
                 "name the public half of the key the packages are signed with")};
  }
  return {Ok("the meta-data key " + keyFile + " is a 2048-bit RSA public key")};
}

std::vector<Finding> CheckSessionBus(const DoctorScene&) {
  constexpr auto LIMIT = std::chrono::seconds(5);
  const std::string fix =
      "run the station in the desktop session (or under dbus-run-session); "
      "mirk3-cli station --no-bus runs without the companion";
  // A bus that accepts the connection and then says nothing must not hold the doctor: it is
  // probed first, and the bus library (which would wait on it for ever, and hold the exit
  // too) never gets near it.
  if (ProbeBus(false, LIMIT).outcome == BusProbe::Silent) {
    return {Fail("the D-Bus session bus does not answer within 5 s", fix)};
  }
  auto answer = std::make_shared<std::promise<std::string>>();
  std::future<std::string> reply = answer->get_future();
  std::thread([answer] {
    std::string said;
    {
      const QDBusConnection bus =
          QDBusConnection::connectToBus(QDBusConnection::SessionBus, "mirk3-doctor");
      if (!bus.isConnected()) {
        said = bus.lastError().message().toStdString();
        if (said.empty()) said = "no connection";
      }
    }
    QDBusConnection::disconnectFromBus("mirk3-doctor");
    answer->set_value(said);
  }).detach();
  if (reply.wait_for(LIMIT) != std::future_status::ready) {
    return {Fail("the D-Bus session bus does not answer within 5 s", fix)};
  }
  const std::string problem = reply.get();
  if (!problem.empty()) return {Fail("the D-Bus session bus cannot be reached: " + problem, fix)};
  return {Ok("the D-Bus session bus answers (the companion interface can run)")};
}

}  // namespace mirk3
