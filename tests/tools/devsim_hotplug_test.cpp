// Emulated phones with a USB identity, plugged in and pulled out while the farm runs: the sysfs
// tree read the way the station reads it (the tty's device link resolved, then up to the USB
// device), the port dir and the tree following each plug and unplug, and mirk3-devsim's own
// schedule and commands.
#include <limits.h>
#include <stdlib.h>
#include <sys/inotify.h>

#include <filesystem>

#include "devsim/options.h"
#include "devsim_fixture.h"
#include "support/devsim_process.h"
#include "support/raw_host.h"

namespace mirk3::devsim {
namespace {

namespace fs = std::filesystem;

struct UsbSeen {
  std::string path;  // the USB device's directory name
  std::string vendor, product, busnum, devpath;
};

// What a reader of the sysfs root finds for a port: the device link resolved, then up to the
// first directory with an idVendor. Nothing when the port has no entry.
std::optional<UsbSeen> ReadUsb(const std::string& root, const std::string& portName) {
  char resolved[PATH_MAX];
  const std::string link = root + "/class/tty/" + portName + "/device";
  if (!::realpath(link.c_str(), resolved)) return {};
  for (fs::path dir = resolved; dir != dir.root_path(); dir = dir.parent_path()) {
    if (!fs::exists(dir / "idVendor")) continue;
    return UsbSeen{dir.filename(), test::ReadFile(dir / "idVendor"),
                   test::ReadFile(dir / "idProduct"), test::ReadFile(dir / "busnum"),
                   test::ReadFile(dir / "devpath")};
  }
  return {};
}

bool HasLink(const std::string& path) { return fs::is_symlink(fs::symlink_status(path)); }

TEST_F(DevsimTest, SysfsTreeShowsEachPortsUsbDevice) {
  FarmConfig config = Config({0, 2, 5});
  config.sysfsDir = Path("sys");
  config.usbPaths = {{2, "2-4"}, {5, "3-1.12.4"}};
  config.usbIds = {{5, UsbId{0x04e8, 0x685d}}};
  Start(config);

  struct Case {
    int port;
    UsbSeen usb;
  };
  const std::vector<Case> cases = {
      {0, {"1-1.1", "1209\n", "0001\n", "1\n", "1.1\n"}},
      {2, {"2-4", "1209\n", "0001\n", "2\n", "4\n"}},
      {5, {"3-1.12.4", "04e8\n", "685d\n", "3\n", "1.12.4\n"}},
  };
  // The links are relative: the tree reads the same once moved.
  fs::rename(Path("sys"), Path("moved"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    const auto seen = ReadUsb(Path("moved"), "ttyACM" + std::to_string(c.port));
    ASSERT_TRUE(seen);
    EXPECT_EQ(std::tie(seen->path, seen->vendor, seen->product, seen->busnum, seen->devpath),
              std::tie(c.usb.path, c.usb.vendor, c.usb.product, c.usb.busnum, c.usb.devpath));
  }
  EXPECT_FALSE(ReadUsb(Path("moved"), "ttyACM1")) << "a port the farm does not serve";
  fs::rename(Path("moved"), Path("sys"));

  farm_->Stop();
  EXPECT_TRUE(fs::is_empty(Path("sys"))) << "the whole tree goes with the farm";
}

TEST_F(DevsimTest, PlugAndUnplugChangeThePortDirAndTheSysfsTree) {
  FarmConfig config = Config({0});
  config.sysfsDir = Path("sys");
  config.usbPaths = {{3, "1-1.1"}};  // port 0's USB device
  config.traceDir = Path("trace");
  Start(config);
  const UniqueFd watch(::inotify_init1(IN_CLOEXEC));
  ASSERT_GE(::inotify_add_watch(watch.Get(), config.portDir.c_str(), IN_CREATE | IN_MOVED_TO), 0);

  std::string error;
  ASSERT_TRUE(farm_->Plug(1, &error)) << error;
  // The port appears in one step, already with its USB device.
  alignas(inotify_event) char events[4096];
  std::vector<std::pair<uint32_t, std::string>> seen;
  while (seen.empty() || seen.back().second != "ttyACM1") {
    const ssize_t n = ::read(watch.Get(), events, sizeof events);
    ASSERT_GT(n, 0);
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      seen.emplace_back(event->mask, event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  EXPECT_EQ(seen.back().first, uint32_t{IN_MOVED_TO});
  EXPECT_TRUE(ReadUsb(Path("sys"), "ttyACM1"));
  EXPECT_EQ(fs::read_symlink(farm_->LinkPath(1)), farm_->SlavePath(1));
  EXPECT_FALSE(farm_->Plug(1, &error));
  EXPECT_NE(error.find("plugged already"), std::string::npos) << error;
  EXPECT_FALSE(farm_->Plug(3, &error)) << "two phones on one USB device";

  test::RawHost host;
  ASSERT_TRUE(host.Open(farm_->LinkPath(1)));
  ASSERT_EQ(host.Greet(), "TASH");
  ASSERT_TRUE(host.Request(100, 0, {4}));
  EXPECT_EQ(farm_->PluggedPorts(), (std::vector<int>{0, 1}));

  ASSERT_TRUE(farm_->Unplug(1));
  EXPECT_FALSE(HasLink(farm_->LinkPath(1)));
  EXPECT_FALSE(ReadUsb(Path("sys"), "ttyACM1"));
  EXPECT_FALSE(fs::exists(Path("sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.2")));
  uint8_t byte;
  EXPECT_EQ(host.Read(&byte, 1, std::chrono::seconds(20)), test::HostIo::Gone);
  host.Close();
  EXPECT_FALSE(farm_->Unplug(1));
  EXPECT_EQ(farm_->PluggedPorts(), std::vector<int>{0});
  EXPECT_EQ(farm_->Trace(1).size(), 1u) << "the trace of a phone pulled out stays readable";

  // Plugged again: a fresh boot loader, with a fresh trace.
  ASSERT_TRUE(farm_->Plug(1, &error)) << error;
  EXPECT_TRUE(ReadUsb(Path("sys"), "ttyACM1"));
  ASSERT_TRUE(host.Open(farm_->LinkPath(1)));
  EXPECT_EQ(host.Greet(), "TASH");
  EXPECT_TRUE(farm_->Trace(1).empty());

  // A phone that reboots leaves like an unplugged one, USB device included.
  ASSERT_TRUE(host.Request(103, 1));
  EXPECT_TRUE(WaitUntil([&] { return !ReadUsb(Path("sys"), "ttyACM1"); }));
  EXPECT_FALSE(HasLink(farm_->LinkPath(1)));
}

TEST(DevsimProgramTest, PlugsOnScheduleAndOnCommands) {
  test::TempDir dir;
  const std::string ports = dir / "ports";
  const std::string sys = dir / "sys";
  test::DevsimProcess devsim;
  ASSERT_TRUE(devsim.Start({"--port-dir", ports, "--ports", "0", "--sysfs", sys, "--plug-after",
                            "2:150", "--unplug-after", "0:300", "--usb-path", "2:1-3"}));
  EXPECT_EQ(devsim.ReadLine().rfind("ttyACM0 -> /dev/pts/", 0), 0u);
  EXPECT_EQ(devsim.ReadLine().rfind("ttyACM2 -> /dev/pts/", 0), 0u);
  EXPECT_EQ(devsim.ReadLine(), "ttyACM0 unplugged");
  EXPECT_FALSE(HasLink(ports + "/ttyACM0"));
  ASSERT_TRUE(ReadUsb(sys, "ttyACM2"));
  EXPECT_EQ(ReadUsb(sys, "ttyACM2")->path, "1-3");

  struct Exchange {
    const char* command;
    const char* answerStart;
  };
  const std::vector<Exchange> exchanges = {
      {"list", "plugged: ttyACM2"},
      {"  plug 0 ", "ttyACM0 -> /dev/pts/"},
      {"list", "plugged: ttyACM0 ttyACM2"},
      {"plug 0", "error: ttyACM0 is plugged already"},
      {"unplug 2", "ttyACM2 unplugged"},
      {"unplug 2", "error: ttyACM2 is not plugged"},
      {"plug x", "error: not a port number: 'x'"},
      {"plug 4096", "error: not a port number: '4096'"},
      {"reboot 1", "error: unknown command 'reboot 1'"},
      {"list", "plugged: ttyACM0"},
  };
  for (const Exchange& exchange : exchanges) {
    ASSERT_TRUE(devsim.Send(exchange.command));
    const std::string answer = devsim.ReadLine();
    EXPECT_EQ(answer.rfind(exchange.answerStart, 0), 0u) << exchange.command << ": " << answer;
  }
  EXPECT_FALSE(HasLink(ports + "/ttyACM2"));
  EXPECT_FALSE(ReadUsb(sys, "ttyACM2"));
  EXPECT_EQ(ReadUsb(sys, "ttyACM0")->path, "1-1.1");

  // Without its input the farm goes on serving.
  devsim.CloseInput();
  test::RawHost host;
  ASSERT_TRUE(host.Open(ports + "/ttyACM0"));
  EXPECT_EQ(host.Greet(), "TASH");
  host.Close();
  EXPECT_EQ(devsim.Terminate(), 0);
  EXPECT_TRUE(fs::is_empty(ports));
  EXPECT_TRUE(fs::is_empty(sys));
}

}  // namespace
}  // namespace mirk3::devsim
