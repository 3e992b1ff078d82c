// The mirk3-devsim command line: every option and fault syntax, and the program itself started
// as a process, as the end-to-end tests and the demo start it.
#include <gtest/gtest.h>

#include <filesystem>

#include "devsim/options.h"
#include "support/devsim_process.h"
#include "support/raw_host.h"
#include "support/temp_dir.h"

namespace mirk3::devsim {
namespace {

ParseOutcome Parse(std::vector<std::string> args, FarmConfig* config) {
  return ParseOptions(args, config);
}

TEST(DevsimOptionsTest, EveryOptionReachesTheConfiguration) {
  test::TempDir dir;
  test::WriteFile(dir / "table.pit", "PITBYTES");
  FarmConfig config;
  const ParseOutcome parsed = Parse({"--port-dir",
                                     "/tmp/p",
                                     "--ports=2-3",
                                     "--ports",
                                     "1,3",
                                     "--protocol",
                                     "3",
                                     "--model",
                                     "SM-X",
                                     "--pit",
                                     dir / "table.pit",
                                     "--out",
                                     "/tmp/o",
                                     "--discard",
                                     "--trace",
                                     "/tmp/t",
                                     "--fail",
                                     "2:102/3=-4",
                                     "--fail=2:100/7=-3@2",
                                     "--bad-handshake",
                                     "1",
                                     "--bad-handshake",
                                     "3:AB",
                                     "--silent",
                                     "2:5",
                                     "--vanish-after",
                                     "3:1048576",
                                     "--erase-ms",
                                     "1:250",
                                     "--port-model",
                                     "2:OTHER",
                                     "--devinfo-size",
                                     "3:700",
                                     "--devinfo-magic",
                                     "3:0xDEADBEEF",
                                     "--sysfs",
                                     "/tmp/s",
                                     "--usb-path",
                                     "2:3-1.4.2",
                                     "--usb-id",
                                     "3:04E8:685d",
                                     "--plug-after",
                                     "7:250",
                                     "--unplug-after",
                                     "7:900",
                                     "--unplug-after=1:0"},
                                    &config);
  ASSERT_EQ(parsed.result, ParseResult::Run) << parsed.text;
  EXPECT_EQ(config.portDir, "/tmp/p");
  EXPECT_EQ(config.ports, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(config.protocol, 3);
  EXPECT_EQ(config.model, "SM-X");
  EXPECT_EQ(std::string(config.pit.begin(), config.pit.end()), "PITBYTES");
  EXPECT_EQ(config.outDir, "/tmp/o");
  EXPECT_TRUE(config.discard);
  EXPECT_EQ(config.traceDir, "/tmp/t");
  const PortFaults& two = config.faults[2];
  ASSERT_EQ(two.fails.size(), 2u);
  EXPECT_EQ(
      std::tie(two.fails[0].type, two.fails[0].subType, two.fails[0].code, two.fails[0].after),
      std::make_tuple(102, 3, -4, 0));
  EXPECT_EQ(
      std::tie(two.fails[1].type, two.fails[1].subType, two.fails[1].code, two.fails[1].after),
      std::make_tuple(100, 7, -3, 2));
  EXPECT_EQ(two.silentAfter, 5);
  EXPECT_EQ(two.model, "OTHER");
  EXPECT_EQ(config.faults[1].handshakeAnswer, "TASX");
  EXPECT_EQ(config.faults[1].eraseMs, 250);
  EXPECT_EQ(config.faults[3].handshakeAnswer, "AB");
  EXPECT_EQ(config.faults[3].vanishAfterBytes, 1048576u);
  EXPECT_EQ(config.faults[3].deviceInfoSize, 700);
  EXPECT_EQ(config.faults[3].deviceInfoMagic, 0xDEADBEEFu);
  EXPECT_EQ(config.sysfsDir, "/tmp/s");
  EXPECT_EQ(UsbPathFor(config, 2), "3-1.4.2");
  EXPECT_EQ(UsbPathFor(config, 3), "1-1.4");
  EXPECT_EQ(UsbIdFor(config, 3), (UsbId{0x04e8, 0x685d}));
  EXPECT_EQ(UsbIdFor(config, 2), DEFAULT_USB_ID);
  ASSERT_EQ(config.schedule.size(), 3u);
  const auto step = [&](size_t i) {
    return std::tie(config.schedule[i].port, config.schedule[i].ms, config.schedule[i].plug);
  };
  EXPECT_EQ(step(0), std::make_tuple(7, 250, true));
  EXPECT_EQ(step(1), std::make_tuple(7, 900, false));
  EXPECT_EQ(step(2), std::make_tuple(1, 0, false));
  EXPECT_EQ(config.ports, (std::vector<int>{1, 2, 3}))
      << "a port plugged later is not there at start";

  FarmConfig defaults;
  ASSERT_EQ(Parse({"--silent", "0"}, &defaults).result, ParseResult::Run);
  EXPECT_EQ(defaults.ports, std::vector<int>{0});
  EXPECT_EQ(defaults.protocol, 4);
  EXPECT_EQ(defaults.model, DEFAULT_MODEL);
  EXPECT_TRUE(defaults.pit.empty());
  EXPECT_EQ(defaults.faults[0].silentAfter, SILENT_FROM_START);
}

TEST(DevsimOptionsTest, MistakesAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--nonsense"},
      {"--ports"},
      {"--ports", "2-1"},
      {"--protocol", "x"},
      {"--pit", "/nonexistent/table.pit"},
      {"--fail", "0:102/3"},
      {"--fail", "0:102=-4"},
      {"--fail", "102/3=-4"},
      {"--fail", "0:102/3=-4@-1"},
      {"--bad-handshake", "0:TOOLONG"},
      {"--bad-handshake", "0:TASH"},
      {"--silent", "0:-2"},
      {"--vanish-after", "0"},
      {"--erase-ms", "0:-5"},
      {"--devinfo-magic", "0:XYZ"},
      {"--devinfo-magic", "0:123456789"},
      {"--ports", "1", "--fail", "0:102/3=-4"},  // a fault for a port that is not served
      {"--usb-path", "0:1-1.2"},                 // no sysfs tree to show it in
      {"--usb-id", "0:1:2"},
      {"--usb-path", "0:1-0", "--sysfs", "/s"},  // hub ports count from 1
      {"--usb-path", "0:1.2", "--sysfs", "/s"},
      {"--usb-path", "0:1-1.2.", "--sysfs", "/s"},
      {"--usb-id", "0:12345:1", "--sysfs", "/s"},
      {"--usb-id", "0:04e8", "--sysfs", "/s"},
      {"--usb-id", "0:g4e8:1", "--sysfs", "/s"},
      {"--usb-path", "3:1-1.1", "--ports", "0,3", "--sysfs", "/s"},  // port 0's by default
      {"--usb-id", "4:1:2", "--sysfs", "/s"},
      {"--plug-after", "0"},
      {"--plug-after", "0:-1"},
      {"--unplug-after", "2:100"},
  };
  for (const auto& args : bad) {
    FarmConfig config;
    const ParseOutcome parsed = Parse(args, &config);
    EXPECT_EQ(parsed.result, ParseResult::Mistake) << args[0];
    EXPECT_NE(parsed.text.find(args[0]), std::string::npos) << "names the option: " << parsed.text;
  }
  FarmConfig config;
  EXPECT_EQ(Parse({"--ports", "1", "--help"}, &config).result, ParseResult::Shown);
}

TEST(DevsimProgramTest, ServesUntilTerminatedThenRemovesItsLinks) {
  test::TempDir dir;
  test::DevsimProcess devsim;
  ASSERT_TRUE(devsim.Start({"--port-dir", dir / "ports", "--ports", "2,5", "--model", "X1"}));
  for (const int port : {2, 5}) {
    const std::string line = devsim.ReadLine();
    const std::string prefix = "ttyACM" + std::to_string(port) + " -> /dev/pts/";
    EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
    EXPECT_EQ(std::filesystem::read_symlink(dir / ("ports/ttyACM" + std::to_string(port))),
              line.substr(line.find("/dev/pts/")));
  }
  test::RawHost host;
  ASSERT_TRUE(host.Open(dir / "ports/ttyACM5"));
  EXPECT_EQ(host.Greet(), "TASH");
  host.Close();

  EXPECT_EQ(devsim.Terminate(), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "ports"));
}

TEST(DevsimProgramTest, HelpAndUsageErrors) {
  test::DevsimProcess shown;
  ASSERT_TRUE(shown.Start({"--help"}));
  const std::string help = shown.ReadToEnd();
  EXPECT_EQ(shown.Wait(), 0);
  for (const char* option :
       {"--port-dir", "--ports",        "--protocol",     "--model",  "--pit",
        "--out",      "--discard",      "--trace",        "--fail",   "--bad-handshake",
        "--silent",   "--vanish-after", "--erase-ms",     "--sysfs",  "--usb-path",
        "--usb-id",   "--plug-after",   "--unplug-after", "unplug N", "list"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  test::DevsimProcess refused;
  ASSERT_TRUE(refused.Start({"--ports", "9-1"}));
  EXPECT_EQ(refused.Wait(), 2);
}

}  // namespace
}  // namespace mirk3::devsim
