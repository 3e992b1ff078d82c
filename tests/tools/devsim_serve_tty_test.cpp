// mirk3-devsim on existing terminals (--serve-tty): the options, a phone served on a terminal
// the test made, taken through a hang-up, and the gadget's UDC file that plugs and unplugs it.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/file.h"
#include "devsim/gadget_udc.h"
#include "devsim/options.h"
#include "devsim_fixture.h"
#include "support/temp_dir.h"

namespace mirk3::devsim {
namespace {

ParseOutcome Parse(const std::vector<std::string>& args, FarmConfig* config) {
  return ParseOptions(args, config);
}

TEST(DevsimServeTtyOptions, PortsAreTheNumbersEndingTheNamesAndMistakesAreRefused) {
  FarmConfig config;
  ASSERT_EQ(Parse({"--serve-tty", "/dev/ttyGS2", "/dev/ttyGS0", "--fail", "2:102/3=-4", "--jig-tty",
                   "/dev/ttyGS5"},
                  &config)
                .result,
            ParseResult::Run);
  EXPECT_EQ(config.ports, (std::vector<int>{0, 2}));
  EXPECT_EQ(config.ttys.at(2), "/dev/ttyGS2");
  EXPECT_EQ(PhoneName(config, 2), "ttyGS2");
  EXPECT_EQ(config.faults.at(2).fails.size(), 1u);
  EXPECT_EQ(config.jig.ttyPath, "/dev/ttyGS5");

  const std::vector<std::vector<std::string>> bad = {
      {"--serve-tty", "/dev/ttyGS"},                    // no number
      {"--serve-tty", "/dev/ttyGS1", "/x/ttyGS1"},      // two terminals, one port
      {"--serve-tty", "/dev/ttyGS1", "--ports", "1"},   // ports come from the names
      {"--serve-tty", "/dev/ttyGS1", "--sysfs", "/s"},  // a real device has a real sysfs
      {"--serve-tty", "/dev/ttyGS1", "--fail", "0:102/3=-4"},
      {"--jig-tty", "/dev/ttyGS1", "--jig", "1"},
  };
  for (const auto& args : bad) {
    FarmConfig refused;
    EXPECT_EQ(Parse(args, &refused).result, ParseResult::Mistake) << args.back();
  }
}

class DevsimServeTtyTest : public DevsimTest {
 protected:
  void SetUp() override {
    master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(master_);
    char name[128] = {};
    ASSERT_EQ(::grantpt(master_.Get()) | ::unlockpt(master_.Get()) |
                  ::ptsname_r(master_.Get(), name, sizeof name),
              0);
    terminal_ = name;
    termios tio{};
    ASSERT_EQ(::tcgetattr(master_.Get(), &tio), 0);
    ::cfmakeraw(&tio);
    ASSERT_EQ(::tcsetattr(master_.Get(), TCSANOW, &tio), 0);
  }

  // The host's end of the terminal is the master: greets and returns the 4 bytes answered.
  std::string Greet() {
    EXPECT_TRUE(WriteFully(master_.Get(), "MIRK", 4));
    std::string answer;
    while (answer.size() < 4) {
      pollfd in{master_.Get(), POLLIN, 0};
      if (::poll(&in, 1, 10000) <= 0) break;
      char c[4];
      const ssize_t n = ::read(master_.Get(), c, 4 - answer.size());
      if (n <= 0) break;
      answer.append(c, static_cast<size_t>(n));
    }
    return answer;
  }

  UniqueFd master_;
  std::string terminal_;
};

// A terminal that hangs up under the phone (a gadget pulled off its bus) is opened again by
// the phone, which then greets the next host. A pty's terminal side is left without its line
// discipline from the hang-up until it is opened again, and what the host writes meanwhile
// waits unseen in the pty until the host writes more; a gadget's host cannot write then (its
// bus is gone). So the next greeting is sent once the phone has opened the terminal again, as
// the node's open event shows.
TEST_F(DevsimServeTtyTest, ServesAnExistingTerminalAndOpensItAgainAfterAHangUp) {
  FarmConfig config = Config({3});
  config.ttys[3] = terminal_;
  config.outDir = Path("out");
  Start(config);
  EXPECT_EQ(farm_->SlavePath(3), terminal_);
  EXPECT_FALSE(std::filesystem::exists(farm_->Config().portDir + "/ttyACM3"))
      << "nothing published";
  EXPECT_EQ(Greet(), "TASH");

  const UniqueFd own(::open(terminal_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_TRUE(own);
  const UniqueFd opens(::inotify_init1(IN_CLOEXEC));
  ASSERT_TRUE(opens);
  ASSERT_GE(::inotify_add_watch(opens.Get(), terminal_.c_str(), IN_OPEN), 0);
  if (::ioctl(own.Get(), TIOCVHANGUP) != 0) {
    if (errno == EPERM) GTEST_SKIP() << "hanging up a terminal needs CAP_SYS_ADMIN";
    FAIL() << std::strerror(errno);
  }
  pollfd reopened{opens.Get(), POLLIN, 0};
  ASSERT_EQ(::poll(&reopened, 1, 20000), 1) << "the phone did not open its terminal again";
  EXPECT_EQ(Greet(), "TASH") << "greeted again after the hang-up";
  EXPECT_TRUE(farm_->Plugged(3));
}

TEST(GadgetUdcTest, FindsTheGadgetOfATerminalAndBindsItsControllerBackAfterAnUnplug) {
  test::TempDir dir;
  const std::string root = dir / "usb_gadget";
  std::filesystem::create_directories(root + "/phone1/functions/acm.0");
  std::filesystem::create_directories(root + "/other/functions/ecm.0");
  test::WriteFile(root + "/phone1/functions/acm.0/port_num", "4\n");
  test::WriteFile(root + "/phone1/UDC", "dummy_udc.2\n");
  test::WriteFile(root + "/other/UDC", "dummy_udc.0\n");

  std::string error;
  EXPECT_FALSE(GadgetUdc::ForTty("/dev/ttyGS5", root, &error));
  EXPECT_NE(error.find("ttyGS5"), std::string::npos) << error;
  EXPECT_FALSE(GadgetUdc::ForTty("/dev/ttyACM4", root, &error)) << "not a gadget's line";

  std::optional<GadgetUdc> gadget = GadgetUdc::ForTty("/dev/ttyGS4", root, &error);
  ASSERT_TRUE(gadget) << error;
  ASSERT_TRUE(gadget->Unplug(&error)) << error;
  EXPECT_EQ(test::ReadFile(root + "/phone1/UDC"), "\n");
  ASSERT_TRUE(gadget->Unplug(&error)) << "harmless twice";
  ASSERT_TRUE(gadget->Plug(&error)) << error;
  EXPECT_EQ(test::ReadFile(root + "/phone1/UDC"), "dummy_udc.2\n");
}

}  // namespace
}  // namespace mirk3::devsim
