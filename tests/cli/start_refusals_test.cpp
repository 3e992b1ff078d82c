// Settings a station must not start with, as the real mirk3-cli refuses them: a settings file
// that is not a regular file of a settings file's size (a FIFO without a writer must not hold
// it, /dev/zero must not fill the memory), a port kept for two slots, a jig line on a phone's
// port. Each is exit status 2 with a line naming the path (and the lines) and why; the system's
// missing-file message stays for a file that is absent.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/program_run.h"
#include "support/pty_peer.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

namespace fs = std::filesystem;

const std::string CLI = std::string(MIRK3_BIN_DIR) + "/mirk3-cli";
constexpr char TITLE[] = "[Option]\nTitle=Line 4\n";

TEST(StartRefusals, StationRefusesSettingsItCannotRunWith) {
  test::TempDir dir;
  const std::string ports = dir / "dev";
  fs::create_directories(ports);
  test::PtyPeer phone(ports, 2);
  ASSERT_EQ(mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
  fs::create_directories(dir / "dir.ini");
  test::WriteFile(dir / "huge.ini", std::string(TITLE) + std::string(2 << 20, ';'));
  // Port 3 hangs on USB port 1-1.3, as sysfs tells.
  const fs::path usb = dir.Path() / "sys/devices/usb1/1-1.3";
  fs::create_directories(usb / "1-1.3:1.0");
  test::WriteFile((usb / "idVendor").string(), "04e8\n");
  test::WriteFile((usb / "idProduct").string(), "685d\n");
  fs::create_directories(dir.Path() / "sys/class/tty/ttyACM3");
  fs::create_symlink(usb / "1-1.3:1.0", dir.Path() / "sys/class/tty/ttyACM3/device");

  struct Case {
    const char* what;
    std::string ini;       // the file's text; empty: --ini names `iniPath` as it is
    std::string iniPath;
    std::vector<std::string> said;
  } const cases[] = {
      {"a FIFO", "", dir / "fifo.ini", {dir / "fifo.ini", "a pipe, not a regular file"}},
      {"/dev/zero", "", "/dev/zero", {"/dev/zero", "a device, not a regular file"}},
      {"a dir", "", dir / "dir.ini", {dir / "dir.ini", "a directory"}},
      {"a huge file", "", dir / "huge.ini", {dir / "huge.ini", "larger than a settings file"}},
      {"a port number twice", std::string(TITLE) + "[Slots]\n0=1\n1=1\n", dir / "a.ini",
       {dir / "a.ini:5: [Slots] 1=1 and " + dir / "a.ini:4: [Slots] 0=1 both keep ttyACM1"}},
      {"a port and its own USB path", std::string(TITLE) + "[Slots]\n7=1-1.3\n2=3\n",
       dir / "b.ini",
       {dir / "b.ini:4: [Slots] 7=1-1.3 and " + dir / "b.ini:5: [Slots] 2=3 both keep "
                                                      "ttyACM3 at USB path 1-1.3"}},
      {"a jig on a phone's port", std::string(TITLE) + "[D300Jig]\nDevice=" + ports + "/ttyACM2\n",
       dir / "c.ini",
       {dir / "c.ini:4: [D300Jig] Device=" + ports + "/ttyACM2", "is ttyACM2 of " + ports,
        "the jig line never opens one"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.ini.empty()) test::WriteFile(c.iniPath, c.ini);
    // A station that hangs is ended by timeout, and fails the status check.
    const test::ProgramRun run = test::RunProgram(
        "MIRK3_PORT_DIR=" + ports + " MIRK3_SYSFS_ROOT=" + (dir / "sys") + " timeout 60 " + CLI +
        " station --no-bus --runs 1 --ini '" + c.iniPath + "' </dev/null");
    EXPECT_EQ(run.status, 2) << run.out;
    for (const std::string& part : c.said) EXPECT_NE(run.out.find(part), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Mirk3.ini 파일이 없습니다"), std::string::npos) << run.out;
  }

  // Absent, and only then, the system's own message.
  const test::ProgramRun absent = test::RunProgram("cd " + dir.Path().string() + " && timeout 60 " +
                                                   CLI + " station --no-bus --runs 1 </dev/null");
  EXPECT_EQ(absent.status, 2);
  EXPECT_NE(absent.out.find("Mirk3.ini 파일이 없습니다"), std::string::npos) << absent.out;
}

}  // namespace
}  // namespace mirk3
