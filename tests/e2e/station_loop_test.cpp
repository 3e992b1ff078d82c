// The station's programs as an operator runs them, beside mirk3-devsim adding and removing
// phones: `mirk3-cli ports --watch` labelling cables, and `mirk3-cli station` as the factory
// loop that flashes the phones two at a time as they are plugged in.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/devsim_process.h"
#include "support/program_run.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

class StationPrograms : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(ports);
    ::setenv("MIRK3_SYSFS_ROOT", sysfs.c_str(), 1);
  }

  // Starts the farm and waits until it has printed one line per port it starts with.
  void StartFarm(const std::vector<std::string>& args, int startingPorts) {
    std::vector<std::string> all = {"--port-dir", ports, "--sysfs", sysfs, "--protocol", "3"};
    all.insert(all.end(), args.begin(), args.end());
    ASSERT_TRUE(farm.Start(all));
    for (int i = 0; i < startingPorts; ++i) ASSERT_NE(farm.ReadLine(), "") << "farm line " << i;
  }

  test::TempDir dir;
  std::string ports = dir / "ports";
  std::string sysfs = dir / "sys";
  test::DevsimProcess farm;
};

TEST_F(StationPrograms, PortsWatchSeesPhonesComeAndGoWithTheirUsbPorts) {
  StartFarm({"--ports", "0", "--usb-path", "0:2-1.4"}, 1);
  test::DevsimProcess watch;
  ASSERT_TRUE(watch.StartProgram("mirk3-cli", {"ports", "--port-dir", ports, "--watch"}));
  EXPECT_EQ(watch.ReadLine().substr(0, 4), "slot");
  const std::string first = watch.ReadLine();
  std::istringstream columns(first);
  std::string slot, port, usbPath, id;
  columns >> slot >> port >> usbPath >> id;
  EXPECT_EQ(slot + " " + port + " " + usbPath + " " + id, "0 ttyACM0 2-1.4 1209:0001") << first;

  ASSERT_TRUE(farm.Send("plug 2"));
  EXPECT_EQ(farm.ReadLine().substr(0, 11), "ttyACM2 -> ");
  EXPECT_EQ(watch.ReadLine(), "<ID:1/002> Added!!");
  ASSERT_TRUE(farm.Send("unplug 0"));
  EXPECT_EQ(farm.ReadLine(), "ttyACM0 unplugged");
  EXPECT_EQ(watch.ReadLine(), "<ID:0/000> Removed!!");
  ASSERT_TRUE(farm.Send("plug 0"));
  EXPECT_EQ(watch.ReadLine(), "<ID:0/000> Added!!") << "the first free slot again";
  EXPECT_EQ(watch.Terminate(), 0);
}

// Two phones at the start, two more while the first run goes on; the fourth refuses the
// greeting. Two runs, four records, and the exit status says that one failed.
TEST_F(StationPrograms, TheFactoryLoopFlashesPhonesTwoAtATime) {
  StartFarm({"--ports", "0-1", "--plug-after", "2:1500", "--plug-after", "3:1700",
             "--bad-handshake", "3"},
            2);
  const std::string package = dir / "AP_loop.tar";
  test::WriteTar(package, {{"boot.img", test::TestBytes(100000, 3)}});
  test::WriteFile(dir / "Mirk3.ini", "[Option]\nTitle=Line 3\n");
  const std::string results = dir / "results.jsonl";
  const test::ProgramRun run = test::RunProgram(
      std::string(MIRK3_BIN_DIR) + "/mirk3-cli station --ini " + dir / "Mirk3.ini" +
          " --port-dir " + ports + " --auto 2 --runs 2 --no-bus --open-attempts 3 --results " +
          results + " --ap " + package,
      dir / "err");
  EXPECT_EQ(run.status, 1) << run.out << test::ReadFile(dir / "err");

  std::map<int, std::string> verdicts;
  std::map<int, int> runs;
  std::istringstream lines(test::ReadFile(results));
  for (std::string line; std::getline(lines, line);) {
    const auto record = nlohmann::json::parse(line);
    verdicts[record["port"].get<int>()] = record["verdict"].get<std::string>();
    runs[record["port"].get<int>()] = record["run"].get<int>();
  }
  EXPECT_EQ(verdicts, (std::map<int, std::string>{{0, "PASS"}, {1, "PASS"}, {2, "PASS"},
                                                 {3, "FAIL"}}));
  EXPECT_EQ(runs, (std::map<int, int>{{0, 1}, {1, 1}, {2, 2}, {3, 2}}));
  EXPECT_NE(run.out.find("<OSM> All threads completed. (succeed 1 / failed 1)"),
            std::string::npos);
}

TEST_F(StationPrograms, AStationWithoutItsSettingsFileDoesNotStart) {
  const test::ProgramRun run = test::RunProgram(std::string(MIRK3_BIN_DIR) +
                                                    "/mirk3-cli station --no-bus --ini " +
                                                    dir / "nowhere.ini",
                                                dir / "err");
  EXPECT_EQ(run.status, 2);
  test::WriteFile(dir / "Mirk3.ini", "[Option]\nTitle=Mirk3. [Android + Vexa]\n");
  const test::ProgramRun absent = test::RunProgram(
      "cd " + dir.Path().string() + " && " + MIRK3_BIN_DIR + "/mirk3-cli station --no-bus",
      dir / "err");
  EXPECT_EQ(absent.status, 2);
  EXPECT_EQ(test::ReadFile(dir / "err"), "mirk3-cli station: Mirk3.ini 파일이 없습니다\n");
}

}  // namespace
}  // namespace mirk3
