// The doctor: what it says of ports of other owners, groups and modes (real pseudo-terminals,
// chowned; the user is given, since the tests run as root, and where root may change user, the
// program runs as nobody as well), of ModemManager, of a settings file with unknown keys and bad
// numbers, of key files, and its exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>

#include "cli/cli_doctor.h"
#include "support/program_run.h"
#include "support/pty_peer.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

namespace fs = std::filesystem;

const std::string CLI = std::string(MIRK3_BIN_DIR) + "/mirk3-cli";

// Gives the pty behind `peer` an owner, group and mode; false where this user may not.
bool SetNode(const test::PtyPeer& peer, uid_t owner, gid_t group, mode_t mode) {
  const std::string node = fs::canonical(peer.LinkPath()).string();
  return chown(node.c_str(), owner, group) == 0 && chmod(node.c_str(), mode) == 0;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The findings' lines, one text.
std::string Said(const std::vector<Finding>& findings) {
  std::string text;
  for (const Finding& f : findings) text += FindingLine(f) + "\n";
  return text;
}

TEST(DoctorPorts, OwnerGroupAndModeDecideForTheUserAndTheFixFollows) {
  test::TempDir dir;
  test::PtyPeer peer(dir.Path().string(), 1);
  if (!SetNode(peer, 0, 4343, 0660)) GTEST_SKIP() << "needs root to give a pty away";
  const uid_t op = 4242;
  const gid_t dialout = 4343;
  struct Case {
    uid_t owner;
    mode_t mode;
    std::vector<gid_t> groups, listed;
    Health health;
    std::string text, fix;
  } const cases[] = {
      {0,
       0660,
       {},
       {},
       Health::Fail,
       "is root:4343 mode 0660 and op is not in group 4343",
       "sudo usermod -aG 4343 op"},
      {0, 0660, {dialout}, {dialout}, Health::Ok, "can be read and written by op", ""},
      {0,
       0660,
       {},
       {dialout},
       Health::Fail,
       "op was added to group 4343 after this login began",
       "log out and in again"},
      {0,
       0600,
       {dialout},
       {dialout},
       Health::Fail,
       "not readable and writable for op",
       "mirk3-cli udev-rule"},
      {op, 0600, {}, {}, Health::Ok, "(4242:4343 mode 0600)", ""},
      // The owner gets the owner's bits only, even when the group's would allow it.
      {op, 0060, {dialout}, {dialout}, Health::Fail, "not readable and writable", "udev rule"},
      {0, 0666, {}, {}, Health::Ok, "can be read and written", ""},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(SetNode(peer, c.owner, dialout, c.mode));
    const UserIdentity user{op, "op", c.groups, c.listed, false};
    const Finding f = PortAccess("ttyACM1", peer.LinkPath(), user);
    const std::string line = FindingLine(f);
    EXPECT_EQ(f.health, c.health) << line;
    EXPECT_TRUE(Contains(f.text, c.text)) << line;
    EXPECT_TRUE(Contains(f.fix, c.fix)) << line;
  }
}

TEST(DoctorPorts, EveryPortOfTheDirIsCheckedAndAnEmptyOrMissingDirIsSaid) {
  test::TempDir dir;
  DoctorScene scene;
  scene.portDir = dir.Path().string();
  scene.user = {4242, "op", {}, {}, false};
  EXPECT_EQ(CheckPortDir(scene)[0].health, Health::Ok);
  EXPECT_EQ(CheckPortAccess(scene)[0].health, Health::Warn);  // no phone yet

  test::PtyPeer locked(scene.portDir, 1), open(scene.portDir, 2);
  if (!SetNode(locked, 0, 0, 0600) || !SetNode(open, 0, 0, 0666)) GTEST_SKIP() << "needs root";
  fs::create_symlink("/dev/pts/no-such-pty", dir / "ttyACM9");  // a device gone
  const std::vector<Finding> ports = CheckPortAccess(scene);
  ASSERT_EQ(ports.size(), 3u) << Said(ports);
  EXPECT_EQ(ports[0].health, Health::Fail) << Said(ports);
  EXPECT_EQ(ports[1].health, Health::Ok) << Said(ports);
  EXPECT_TRUE(Contains(FindingLine(ports[2]), "FAIL ttyACM9 (")) << Said(ports);

  scene.portDir = dir / "none";
  EXPECT_TRUE(Contains(Said(CheckPortDir(scene)), "FAIL the port dir " + scene.portDir));
}

// The program itself, run as a user who cannot open the port: the kernel's view and the
// doctor's agree.
TEST(DoctorPorts, NobodyIsToldWhyThePortIsClosedToThem) {
  const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  if (geteuid() != 0 || test::RunProgram(asNobody + CLI + " --version >/dev/null").status != 0) {
    GTEST_SKIP() << "needs root, setpriv and a build nobody may run";
  }
  test::TempDir dir;
  fs::permissions(dir.Path(), fs::perms(0755));
  test::PtyPeer peer(dir.Path().string(), 3);
  ASSERT_TRUE(SetNode(peer, 0, 0, 0600));
  const test::ProgramRun run =
      test::RunProgram(asNobody + CLI + " doctor --port-dir " + dir.Path().string() + " --ini " +
                       (dir / "Mirk3.ini"));
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_TRUE(Contains(run.out,
                       "FAIL ttyACM3 is root:root mode 0600: not readable and writable "
                       "for nobody"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, "FAIL " + (dir / "Mirk3.ini") + " cannot be read")) << run.out;
}

TEST(DoctorModemManager, PortsUdevMarkedIgnoredAreLeftAloneOthersAreNamed) {
  test::TempDir dir;
  DoctorScene scene;
  scene.portDir = dir / "dev";
  scene.procRoot = dir / "proc";
  scene.udevDataDir = dir / "udev";
  scene.udevRuleDirs = {dir / "rules"};
  fs::create_directories(scene.portDir);
  fs::create_directories(scene.udevDataDir);
  fs::create_directories(scene.procRoot + "/812");
  EXPECT_EQ(Said(CheckModemManager(scene)), "OK   ModemManager is not running\n");

  test::WriteFile(scene.procRoot + "/812/comm", "ModemManager\n");
  EXPECT_EQ(CheckModemManager(scene)[0].health, Health::Warn);  // no rule, no port
  fs::create_directories(dir / "rules");
  test::WriteFile(dir / "rules/60-mirk3.rules", "");
  EXPECT_EQ(CheckModemManager(scene)[0].health, Health::Ok);

  test::PtyPeer ignored(scene.portDir, 0), probed(scene.portDir, 1);
  struct stat st {};
  ASSERT_EQ(stat(ignored.LinkPath().c_str(), &st), 0);
  test::WriteFile(scene.udevDataDir + "/c" + std::to_string(major(st.st_rdev)) + ":" +
                      std::to_string(minor(st.st_rdev)),
                  "S:mirk3/usb-1-1.3\nE:ID_MM_DEVICE_IGNORE=1\n");
  const std::string said = Said(CheckModemManager(scene));
  EXPECT_TRUE(Contains(said, "WARN ModemManager runs and may send AT probes to ttyACM1 in"))
      << said;
}

TEST(DoctorSettings, UnknownKeysBadNumbersAndAMissingFileAreNamed) {
  test::TempDir dir;
  test::WriteFile(
      dir / "Mirk3.ini",
      "[Option]\nTitle=Line 4\nPacketSize=1M\nFactoryResetTime= 5 \nColour=red\n"
      "[apoption]\nAutoReboot=yes\n[Bogus]\nx=1\n[Slots]\n99=1\n[option]\nPacketSize=x\n");
  test::WriteFile(dir / "untitled.ini", "[Option]\nPacketSize=1048576\n");
  ASSERT_EQ(mkfifo((dir / "fifo.ini").c_str(), 0600), 0);  // no writer: must not be waited on
  struct Case {
    std::string file;
    std::vector<std::string> lines;  // each in the findings, and nothing else
  } const cases[] = {
      {dir / "Mirk3.ini",
       {"WARN " + (dir / "Mirk3.ini") +
            ":3: [Option] PacketSize=1M is not a number: the station "
            "reads 1",
        "WARN " + (dir / "Mirk3.ini") + ":5: [Option] Colour is not a key the station reads",
        "WARN " + (dir / "Mirk3.ini") + ":7: [apoption] AutoReboot=yes is not a number",
        "WARN " + (dir / "Mirk3.ini") + ": section [Bogus] is not one the station reads",
        "WARN " + (dir / "Mirk3.ini") + ":11: [Slots] 99=1 is not a slot 0-55"}},
      {dir / "untitled.ini", {"FAIL " + (dir / "untitled.ini") + " has no [Option] Title"}},
      {dir / "missing.ini", {"FAIL " + (dir / "missing.ini") + " cannot be read"}},
      {dir / "fifo.ini", {"FAIL " + (dir / "fifo.ini") + " cannot be read as a settings file: "
                                                         "a pipe, not a regular file"}},
      // The sample documents every key the station reads, each with a value it takes.
      {MIRK3_SOURCE_DIR "/data/Mirk3.ini.sample",
       {"OK   " MIRK3_SOURCE_DIR "/data/Mirk3.ini.sample is read"}},
  };
  for (const Case& c : cases) {
    DoctorScene scene;
    scene.iniPath = c.file;
    const std::vector<Finding> findings = CheckSettingsFile(scene);
    const std::string said = Said(findings);
    EXPECT_EQ(findings.size(), c.lines.size()) << said;
    for (const std::string& line : c.lines)
      EXPECT_TRUE(Contains(said, line)) << line << "\n" << said;
  }
}

// What the station refuses to start with, and what would trip it later: entries of the port
// dir that are no serial devices (a link to a pty is one), a --port-dir naming a file, a port
// kept for two slots, a jig on a phone's port, a FactoryResetTime of a day, a LogDir that is a
// file.
TEST(DoctorSettings, PortDirEntriesAndSettingsTheStationCannotRunWith) {
  test::TempDir dir;
  const std::string ports = dir / "dev";
  fs::create_directories(ports);
  test::PtyPeer phone(ports, 4);
  test::WriteFile(ports + "/ttyACM1", "");
  ASSERT_EQ(mkfifo((ports + "/ttyACM2").c_str(), 0600), 0);
  fs::create_symlink("/dev/null", ports + "/ttyACM3");
  DoctorScene scene;
  scene.portDir = ports;
  scene.user = CurrentUser();
  const std::string entries = Said(CheckPortAccess(scene));
  for (const std::string& line :
       {"FAIL ttyACM1 (" + ports + "/ttyACM1) is a regular file, not a serial device",
        "FAIL ttyACM2 (" + ports + "/ttyACM2) is a FIFO, not a serial device",
        "FAIL ttyACM3 (" + ports + "/ttyACM3) is the mem device 1:3, not a serial port",
        std::string("OK   ttyACM4 can be read and written")}) {
    EXPECT_TRUE(Contains(entries, line)) << line << "\n" << entries;
  }
  scene.portDir = ports + "/ttyACM1";
  EXPECT_TRUE(Contains(Said(CheckPortDir(scene)), "is a file, not a directory"));

  scene.portDir = ports;
  scene.iniPath = dir / "Mirk3.ini";
  test::WriteFile(dir / "log", "");
  test::WriteFile(scene.iniPath, "[Option]\nTitle=Line 4\nFactoryResetTime=86400\nLogDir=" +
                                     (dir / "log") + "\n[Slots]\n0=4\n1=4\n[D300Jig]\nDevice=" +
                                     ports + "/ttyACM4\n");
  const std::vector<Finding> findings = CheckStationSettings(scene);
  const std::string said = Said(findings);
  EXPECT_EQ(findings.size(), 4u) << said;
  for (const std::string& line :
       {"FAIL " + scene.iniPath + ":7: [Slots] 1=4 and " + scene.iniPath +
            ":6: [Slots] 0=4 both keep ttyACM4",
        "FAIL " + scene.iniPath + ":9: [D300Jig] Device=" + ports + "/ttyACM4",
        "WARN " + scene.iniPath + ": [Option] FactoryResetTime=86400",
        "FAIL [Option] LogDir " + (dir / "log") + " is not a directory"}) {
    EXPECT_TRUE(Contains(said, line)) << line << "\n" << said;
  }
  test::WriteFile(scene.iniPath, "[Option]\nTitle=Line 4\n[Slots]\n0=4\n1=5\n");
  EXPECT_TRUE(Contains(Said(CheckStationSettings(scene)), "OK   ")) << Said(CheckStationSettings(scene));
}

TEST(DoctorKey, TheKeyFileMustBeReadableAndAnRsa2048Key) {
  test::TempDir dir;
  test::WriteFile(dir / "junk.pem",
                  "-----BEGIN PUBLIC KEY-----\nbm90IGEga2V5\n-----END PUBLIC KEY-----\n");
  test::WriteFile(dir / "Mirk3.ini", "[Option]\nTitle=T\nMetaDataKey=" + (dir / "gone.pem") + "\n");
  struct Case {
    std::string ini, keyFile;
    Health health;
    std::string said;
  } const cases[] = {
      {dir / "none.ini", "", Health::Ok, "the built-in RSA-2048 key"},
      {dir / "Mirk3.ini", "", Health::Fail, dir / "gone.pem"},
      {dir / "Mirk3.ini", MIRK3_SOURCE_DIR "/tests/data/test-key.public", Health::Ok,
       "is a 2048-bit RSA public key"},
      {dir / "none.ini", dir / "junk.pem", Health::Fail, dir / "junk.pem"},
  };
  for (const Case& c : cases) {
    DoctorScene scene;
    scene.iniPath = c.ini;
    scene.metaKeyFile = c.keyFile;
    const std::vector<Finding> findings = CheckMetaDataKey(scene);
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].health, c.health) << FindingLine(findings[0]);
    EXPECT_TRUE(Contains(FindingLine(findings[0]), c.said)) << FindingLine(findings[0]);
  }
}

// Exit status 0 when nothing is FAIL, on a session bus of its own; 1 when something is.
TEST(DoctorExit, ZeroOnlyWhenNothingFails) {
  if (test::RunProgram("command -v dbus-run-session >/dev/null").status != 0) {
    GTEST_SKIP() << "needs dbus-run-session";
  }
  test::TempDir dir;
  test::PtyPeer peer(dir.Path().string(), 0);
  const std::string doctor =
      "dbus-run-session -- " + CLI + " doctor --port-dir " + dir.Path().string() + " --ini ";
  const test::ProgramRun good =
      test::RunProgram(doctor + MIRK3_SOURCE_DIR "/data/Mirk3.ini.sample");
  EXPECT_EQ(good.status, 0) << good.out;
  EXPECT_TRUE(Contains(good.out, "OK   the D-Bus session bus answers")) << good.out;
  EXPECT_FALSE(Contains(good.out, "FAIL")) << good.out;
  const test::ProgramRun bad = test::RunProgram(doctor + (dir / "missing.ini"));
  EXPECT_EQ(bad.status, 1) << bad.out;
}

}  // namespace
}  // namespace mirk3
