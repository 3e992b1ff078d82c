// One Click end to end: a station program built by mirk3-pack that carries its own packages
// (plain, with MD5 trailer and compressed), options and partition table flashes emulated
// phones with no package to pick.
#include <gtest/gtest.h>

#include <sstream>

#include "devsim/builtin_pit.h"
#include "devsim/phone_farm.h"
#include "pack/md5_package.h"
#include "support/oneclick_program.h"
#include "support/program_run.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"
#include "wire/pit_record.h"

namespace mirk3 {
namespace {

constexpr char kModel[] = "MIRK3-DEMO_EUR";

using test::ProgramRun;

ProgramRun RunProgram(const std::string& program, const std::string& args) {
  return test::RunProgram(program + " " + args);
}

class OneClick : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir / "ports");
    // BL plain, AP compressed (with a partition table member kept plain), CSC with MD5 trailer.
    test::WriteSignedPackage(dir / "BL.tar", {{"loader.bin", loader}}, kModel);
    test::WriteSignedPackage(
        dir / "AP.tar", {{"boot.img", boot}, {"system.img", system}, {"empty.img", ""}}, kModel);
    test::WriteSignedPackage(dir / "CP.tar", {{"modem.bin", modem}}, kModel);
    test::WriteSignedPackage(dir / "CSC.tar", {{"cache.img", cache}}, kModel);
    std::string error;
    ASSERT_TRUE(pack::WriteMd5Package(dir / "CSC.tar", error)) << error;
    PitTable table = devsim::BuiltinPitTable();
    PitEntry extra = table.entries[2];
    extra.partitionId = 44;
    extra.SetPartitionName("EMPTY");
    extra.SetFileName("empty.img");
    table.entries.push_back(extra);
    pit = EncodePitTable(table);
    test::WriteFile(dir / "table.pit", std::string(pit.begin(), pit.end()));
  }

  test::OneClickContents Contents() {
    test::OneClickContents contents;
    contents.packages = {{BL, dir / "BL.tar", ONECLICK_TAR},
                         {AP, dir / "AP.tar", ONECLICK_TAR_DEFLATED},
                         {CP, dir / "CP.tar", ONECLICK_TAR_DEFLATED},
                         {CSC, dir / "CSC.tar.md5", ONECLICK_TAR_MD5}};
    contents.pitPath = dir / "table.pit";
    contents.rePartition = true;
    contents.efsClear = true;
    return contents;
  }

  std::string Written(int port, const std::string& partition) {
    return test::ReadFile(dir / ("out/ttyACM" + std::to_string(port) + "/" + partition));
  }

  std::vector<std::string> Ends(devsim::PhoneFarm& farm, int port) {
    std::vector<std::string> out;
    for (const auto& line : farm.Trace(port)) {
      if (line.rfind("102/3 ", 0) == 0) out.push_back(line);
    }
    return out;
  }

  test::TempDir dir;
  const std::string loader = test::TestBytes(100000, 1);
  const std::string boot = std::string(400000, 'B') + test::TestBytes(1000, 2);
  const std::string system = test::TestBytes(1100000, 3) + std::string(3 << 20, '\0');
  const std::string modem = test::TestBytes(70000, 4);
  const std::string cache = test::TestBytes(4096, 5);
  std::vector<uint8_t> pit;
};

TEST_F(OneClick, AProgramFlashesItsOwnPackagesToTwoPhones) {
  const std::string program = dir / "oneclick-cli";
  test::WriteOneClickProgram(program, Contents());
  devsim::FarmConfig config;
  config.portDir = dir / "ports";
  config.outDir = dir / "out";
  config.ports = {0, 1};
  devsim::PhoneFarm farm(config);
  ASSERT_TRUE(farm.Start());

  // No package option: the program's own packages are the chosen ones.
  const ProgramRun run = RunProgram(
      program,
      "flash --port 0 --port 1 --no-reset-time --packet-size 131072 --port-dir " + (dir / "ports"));
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("<ID:0/000> One Click Downloader Mode"), std::string::npos);
  for (int port : {0, 1}) {
    EXPECT_EQ(Written(port, "BOOTLOADER"), loader);
    EXPECT_EQ(Written(port, "BOOT"), boot);
    EXPECT_EQ(Written(port, "SYSTEM"), system);
    EXPECT_EQ(Written(port, "RADIO"), modem);
    EXPECT_EQ(Written(port, "CACHE"), cache);
    EXPECT_EQ(farm.Pit(port), pit) << "the carried table was uploaded";
    // The trailer's flags on the wire: every slot in the phone layout (the CP slot too),
    // EFS clear in word 6, and the reboot the trailer asks for.
    const auto ends = Ends(farm, port);
    ASSERT_EQ(ends.size(), 5u);
    for (const auto& end : ends) {
      std::istringstream words(end.substr(6));
      std::vector<int64_t> w(8);
      for (auto& value : w) words >> value;
      EXPECT_EQ(w[0], 0) << end;
      EXPECT_EQ(w[6], 1) << end;
      EXPECT_EQ(w[7], 0) << end;
    }
    EXPECT_EQ(farm.Trace(port).back().substr(0, 5), "103/1");
    EXPECT_FALSE(farm.Plugged(port));
  }
}

TEST_F(OneClick, TheTrailersFlagsDecideTheRebootAndTheWords) {
  test::OneClickContents contents = Contents();
  contents.autoReboot = false;
  contents.efsClear = false;
  contents.bootUpdate = true;
  const std::string program = dir / "oneclick-noreboot";
  test::WriteOneClickProgram(program, contents);
  devsim::FarmConfig config;
  config.portDir = dir / "ports";
  config.ports = {3};
  devsim::PhoneFarm farm(config);
  ASSERT_TRUE(farm.Start());
  // The operator's options a One Click program overrides: erase, reboot.
  const ProgramRun run =
      RunProgram(program, "flash --port 3 --nand-erase --port-dir " + (dir / "ports"));
  ASSERT_EQ(run.status, 0) << run.out;
  for (const auto& line : farm.Trace(3)) {
    EXPECT_NE(line.substr(0, 5), "100/7") << "no erase from a One Click program";
    EXPECT_NE(line.substr(0, 5), "103/1") << "no reboot";
  }
  const auto ends = Ends(farm, 3);
  ASSERT_FALSE(ends.empty());
  EXPECT_EQ(ends.front().substr(ends.front().size() - 4), " 0 1");
  EXPECT_TRUE(farm.Plugged(3));
}

TEST_F(OneClick, ADamagedCompressedMemberFailsThePhoneAndSaysWhy) {
  const std::string program = dir / "oneclick-damaged";
  test::WriteOneClickProgram(program, Contents());
  ASSERT_TRUE(test::DamageOneClickMember(program, AP, "system.img"));
  devsim::FarmConfig config;
  config.portDir = dir / "ports";
  config.outDir = dir / "out";
  config.ports = {5};
  devsim::PhoneFarm farm(config);
  ASSERT_TRUE(farm.Start());
  const ProgramRun run =
      RunProgram(program, "flash --port 5 --no-reset-time --port-dir " + (dir / "ports"));
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("<ID:0/005> SYSTEM: the compressed data is damaged"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Complete(Write) operation failed."), std::string::npos);
  EXPECT_NE(run.out.find("(succeed 0 / failed 1)"), std::string::npos);
  // The damaged member's sequence was never closed: no image reached the partition.
  for (const auto& end : Ends(farm, 5)) EXPECT_EQ(end.find(" 20 "), std::string::npos) << end;
}

}  // namespace
}  // namespace mirk3
