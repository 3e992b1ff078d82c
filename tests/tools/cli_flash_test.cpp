// mirk3-cli flash through the real program, against emulated phones started in-process: the
// log of a run, its exit status, packages checked before any phone is touched, and ports
// refused before anything starts. Also the station's package pick that flash shares with the
// window.
#include "cli/cli_flash.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "station/station.h"
#include "devsim/phone_farm.h"
#include "pack/md5_package.h"
#include "support/oneclick_program.h"
#include "support/program_run.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

using test::ProgramRun;

// Runs mirk3-cli with `args`; standard error goes to `errFile`.
ProgramRun RunCli(const std::string& args, const std::string& errFile) {
  return test::RunProgram(std::string(MIRK3_BIN_DIR) + "/mirk3-cli " + args, errFile);
}

std::vector<std::string> LinesOf(const std::string& text, const std::string& prefix = "") {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}

class CliFlash : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(ports());
    package = dir / "AP.tar";
    test::WriteSignedPackage(package, {{"boot.img", boot}}, "MIRK3-DEMO_EUR");
  }
  std::string ports() const { return dir / "ports"; }
  std::string Common() const {
    return "--port-dir " + ports() + " --open-attempts 2 --no-reset-time ";
  }
  // The package made an MD5 package, and a copy of the same name with one byte of boot.img
  // flipped. Returns the good one's path; the damaged one is <dir>/damaged/AP.tar.md5.
  std::string WriteMd5Packages() {
    std::string error;
    EXPECT_TRUE(pack::WriteMd5Package(package, error)) << error;
    std::string damaged = test::ReadFile(package + ".md5");
    const size_t data = damaged.find(boot);
    EXPECT_NE(data, std::string::npos);
    damaged[data + 10] ^= 0x01;
    std::filesystem::create_directories(dir / "damaged");
    test::WriteFile(dir / "damaged/AP.tar.md5", damaged);
    return package + ".md5";
  }
  test::TempDir dir;
  const std::string boot = test::TestBytes(1000, 3);
  std::string package;
};

TEST_F(CliFlash, TwoPortDeviceInfoRunLogsLikeTheWindow) {
  devsim::FarmConfig config;
  config.portDir = ports();
  config.ports = {4, 12};
  config.faults[12].model = "SM-OTHER";
  devsim::PhoneFarm farm(config);
  ASSERT_TRUE(farm.Start());
  const ProgramRun run = RunCli(
      "flash --port 4 --port 12 --device-info --ap " + package + " " + Common(), dir / "err");
  EXPECT_EQ(run.status, 1) << run.out << test::ReadFile(dir / "err");
  EXPECT_EQ(LinesOf(run.out, "<ID:0/004>"),
            (std::vector<std::string>{"<ID:0/004> Added!!", "<ID:0/004> Mirk engine v(ID:3.1203)..",
                                      "<ID:0/004> SetupConnection..", "<ID:0/004> Initialzation..",
                                      "<ID:0/004> RQT_CLOSE !!", "<ID:0/004> RES OK !!",
                                      "<ID:0/004> Remain Port ....  1 "}));
  EXPECT_EQ(LinesOf(run.out, "<ID:1/012>"),
            (std::vector<std::string>{"<ID:1/012> Added!!", "<ID:1/012> Mirk engine v(ID:3.1203)..",
                                      "<ID:1/012> SetupConnection..", "<ID:1/012> Initialzation..",
                                      "<ID:1/012> FAIL! Model dismatch fail",
                                      "<ID:1/012> The packages are for model \"MIRK3-DEMO\"; "
                                      "the phone is model \"SM-OTHER\""}));
  const auto lines = LinesOf(run.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "<OSM> All threads completed. (succeed 1 / failed 1)");
  EXPECT_EQ(lines.size(), 14u) << "nothing but log lines on standard output";
}

TEST_F(CliFlash, ExitsZeroWhenEveryPortPasses) {
  devsim::FarmConfig config;
  config.portDir = ports();
  config.ports = {0, 1};
  devsim::PhoneFarm farm(config);
  ASSERT_TRUE(farm.Start());
  const ProgramRun run =
      RunCli("flash --port 1 --port 0 --device-info --ap " + package + " " + Common(), dir / "err");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(LinesOf(run.out, "<ID:0/001> Added!!").size(), 1u) << "ports take slots in order";
  EXPECT_EQ(LinesOf(run.out, "<ID:1/000> Added!!").size(), 1u);
  EXPECT_EQ(LinesOf(run.out).back(), "<OSM> All threads completed. (succeed 2 / failed 0)");
}

// A phone whose boot loader does not check meta-data (protocol 3) would take a damaged package:
// the MD5 trailer check is what keeps it from the phone.
TEST_F(CliFlash, Md5PackagesAreCheckedBeforeAnyPhoneIsTouched) {
  const std::string good = WriteMd5Packages();

  const std::vector<std::string> checkStarts = {"<OSM> Enter CS for MD5..",
                                                "<OSM> Check MD5.. Do not unplug the cable..",
                                                "<OSM> Please wait.."};
  const struct {
    std::string package;
    int status;
    std::vector<std::string> checkEnds;
    bool flashed;
  } cases[] = {
      {good, 0, {"<OSM> Checking MD5 finished Sucessfully..", "<OSM> Leave CS.."}, true},
      {dir / "damaged/AP.tar.md5",
       2,
       {"<OSM> MD5 hash value is invalid", "<OSM> AP.tar.md5 is invalid.", "<OSM> End..."},
       false},
  };
  for (const auto& c : cases) {
    devsim::FarmConfig config;
    config.portDir = ports();
    config.ports = {0};
    config.protocol = 3;
    config.outDir = dir / "out";
    std::filesystem::remove_all(config.outDir);
    devsim::PhoneFarm farm(config);
    ASSERT_TRUE(farm.Start());
    const ProgramRun run = RunCli("flash --port 0 --ap " + c.package + " " + Common(), dir / "err");
    const std::string err = test::ReadFile(dir / "err");
    EXPECT_EQ(run.status, c.status) << run.out << err;

    std::vector<std::string> check = checkStarts;
    check.insert(check.end(), c.checkEnds.begin(), c.checkEnds.end());
    const auto lines = LinesOf(run.out);
    ASSERT_GE(lines.size(), check.size()) << run.out;
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + check.size()), check)
        << "the check comes before any port is placed";
    EXPECT_EQ(lines.size() == check.size(), !c.flashed) << run.out;
    EXPECT_EQ(err.find("md5 error! Binary is invalid") != std::string::npos, !c.flashed) << err;
    EXPECT_EQ(farm.Trace(0).empty(), !c.flashed) << c.package;
    const std::string written = test::ReadFile(dir / "out/ttyACM0/BOOT");
    EXPECT_TRUE(written == (c.flashed ? boot : "")) << written.size() << " bytes written";
  }
}

TEST_F(CliFlash, UsageErrorsExitTwoWithAMessage) {
  std::string portsBeyondTheSlots = "flash --device-info " + Common();
  for (int port = 0; port < 57; ++port) portsBeyondTheSlots += " --port " + std::to_string(port);
  const struct {
    std::string args;
    std::string message;
    bool oneLine;  // a mistake of the command line itself, told in one line
  } cases[] = {
      {"flash --device-info", "no port given", false},
      {"flash --port 1 --frobnicate", "--frobnicate", true},
      {"flash --port x --device-info", "--port: 'x'", true},
      {"flash --port 1 --packet-size", "--packet-size", true},
      {portsBeyondTheSlots, "57 ports given, but the station has 56 slots", false},
      {"flash --device-info --port 3 --port 4 --port 3 " + Common(), "port 3 is given twice",
       false},
      {"flash --device-info --port 2-4 --port 3 " + Common(), "port 3 is given twice", false},
      {"flash --port 1 " + Common(), "No binary file is selected.", false},
      {"flash --port 1 --device-info --meta-key /nonexistent/key", "/nonexistent/key", false},
      {"explode", "explode", true},
      {"", "usage: mirk3-cli", false},
  };
  for (const auto& c : cases) {
    const ProgramRun run = RunCli(c.args, dir / "err");
    const std::string err = test::ReadFile(dir / "err");
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_NE(err.find(c.message), std::string::npos) << c.args << ": " << err;
    if (c.oneLine) {
      EXPECT_EQ(LinesOf(err).size(), 1u) << c.args << ": " << err;
    }
    EXPECT_EQ(run.out.find("Mirk engine"), std::string::npos) << "no run starts: " << c.args;
  }
}

// Sanitizer runtimes reserve more address space than any limit a test could set.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// A packet buffer the memory cannot hold fails the phones that need it, one by one, and the
// run ends with its summary instead of taking the whole station down.
TEST_F(CliFlash, APacketBufferThatCannotBeHadFailsOnlyItsPhones) {
  if (kSanitized) GTEST_SKIP() << "an address-space limit cannot hold under a sanitizer";
  devsim::FarmConfig config;
  config.portDir = ports();
  config.ports = {0, 1};
  config.protocol = 3;  // no meta-data needed: plain package
  devsim::PhoneFarm farm(config);
  ASSERT_TRUE(farm.Start());
  const std::string plain = dir / "plain.tar";
  test::WriteTar(plain, {{"boot.img", test::TestBytes(1000, 4)}});
  const ProgramRun run =
      test::RunProgram("ulimit -v 1000000; exec " + std::string(MIRK3_BIN_DIR) +
                           "/mirk3-cli flash --port 0 --port 1 --packet-size 2000000000 --ap " +
                           plain + " " + Common(),
                       dir / "err");
  EXPECT_EQ(run.status, 1) << run.out << test::ReadFile(dir / "err");
  for (const char* port : {"<ID:0/000> ", "<ID:1/001> "}) {
    EXPECT_EQ(LinesOf(run.out, std::string(port) + "Not enough memory.").size(), 1u) << port;
  }
  EXPECT_EQ(LinesOf(run.out).back(), "<OSM> All threads completed. (succeed 0 / failed 2)");
}

// Forty phones in a process that can hold only some of their threads and buffers: whatever
// cannot be had fails its own phone, and every phone is counted in the summary.
TEST_F(CliFlash, AStationShortOfMemoryCountsEveryPhone) {
  if (kSanitized) GTEST_SKIP() << "an address-space limit cannot hold under a sanitizer";
  devsim::FarmConfig config;
  config.portDir = ports();
  config.protocol = 3;
  std::string portArgs;
  for (int port = 0; port < 40; ++port) {
    config.ports.push_back(port);
    portArgs += " --port " + std::to_string(port);
  }
  devsim::PhoneFarm farm(config);
  ASSERT_TRUE(farm.Start());
  const std::string plain = dir / "plain.tar";
  test::WriteTar(plain, {{"boot.img", test::TestBytes(1000, 5)}});
  const ProgramRun run =
      test::RunProgram("ulimit -v 150000; exec " + std::string(MIRK3_BIN_DIR) + "/mirk3-cli flash" +
                           portArgs + " --ap " + plain + " --no-auto-reboot " + Common(),
                       dir / "err");
  ASSERT_TRUE(run.status == 0 || run.status == 1) << test::ReadFile(dir / "err");
  int succeeded = -1, failed = -1;
  ASSERT_EQ(
      std::sscanf(LinesOf(run.out).back().c_str(),
                  "<OSM> All threads completed. (succeed %d / failed %d)", &succeeded, &failed),
      2);
  EXPECT_EQ(succeeded + failed, 40);
}

// A One Click program flashes what it carries with the choices it carries: every option given
// that it overrides with another choice is named on standard error before the run, and one
// that asks what the program does anyway is not. To a station without packages of its own the
// same options mean what they say.
TEST_F(CliFlash, AOneClickProgramNamesTheOptionsItIgnores) {
  test::OneClickContents contents;
  contents.packages = {{AP, package, ONECLICK_TAR}};
  contents.efsClear = true;
  const std::string program = dir / "oneclick-cli";
  test::WriteOneClickProgram(program, contents);
  const std::string station = std::string(MIRK3_BIN_DIR) + "/mirk3-cli";
  const auto ignored = [](const std::string& option, const std::string& instead) {
    return "mirk3-cli flash: " + option + " ignored: " + instead;
  };
  const struct {
    std::string program;
    std::string options;
    std::vector<std::string> named;
    bool erases;
  } cases[] = {
      {program,
       "--ums " + package + " --pit " + (dir / "other.pit") +
           " --repartition --no-auto-reboot --boot-update --nand-erase --t-flash --rtn "
           "--reset-time 3 --efs-clear --flash-lock",
       {ignored("--ums", "this program flashes the packages it carries"),
        ignored("--pit", "this program uploads only the partition table it carries"),
        ignored("--repartition", "this program does not re-partition"),
        ignored("--no-auto-reboot", "this program reboots the phone after the download"),
        ignored("--boot-update", "this program does not update the boot loader"),
        ignored("--nand-erase", "a One Click program never erases the whole phone"),
        ignored("--t-flash", "a One Click program never sends the T flash request"),
        ignored("--rtn", "a One Click program never sends the RTN request"),
        ignored("--reset-time", "a One Click program never pauses after closing")},
       false},
      {program, "--efs-clear --no-reset-time --packet-size 131072", {}, false},
      {station, "--ap " + package + " --nand-erase --no-reset-time", {}, true},
  };
  for (const auto& c : cases) {
    devsim::FarmConfig config;
    config.portDir = ports();
    config.ports = {0};
    devsim::PhoneFarm farm(config);
    ASSERT_TRUE(farm.Start());
    const ProgramRun run =
        test::RunProgram(c.program + " flash --port 0 --device-info --open-attempts 2 --port-dir " +
                             ports() + " " + c.options,
                         dir / "err");
    const std::string err = test::ReadFile(dir / "err");
    EXPECT_EQ(run.status, 0) << c.options << "\n" << run.out << err;
    EXPECT_EQ(LinesOf(err, "mirk3-cli flash: "), c.named) << c.options;
    EXPECT_EQ(LinesOf(run.out, "<ID:0/000> Erase...").size(), c.erases ? 1u : 0u) << run.out;
  }
}

}  // namespace
}  // namespace mirk3
