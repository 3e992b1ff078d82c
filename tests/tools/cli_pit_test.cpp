// mirk3-cli pit: a table file shown, and a phone's own table read and saved.
#include "app/cli_pit.h"

#include <gtest/gtest.h>

#include <sstream>

#include "devsim/builtin_pit.h"
#include "devsim/phone_farm.h"
#include "engine/pit.h"
#include "support/command_call.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

using Result = test::CommandOutcome;

Result Pit(const std::vector<std::string>& args) { return test::CallCommand(RunPitCommand, args); }

TEST(CliPit, ReadsAPhonesTableAndLeavesItInDownloadMode) {
  test::TempDir dir;
  devsim::FarmConfig config;
  config.portDir = dir.Path();
  config.ports = {6};
  devsim::PhoneFarm farm(config);
  ASSERT_TRUE(farm.Start());
  const std::string saved = dir / "phone.pit";
  const Result r = Pit({"--port", "6", "--out", saved, "--port-dir", dir.Path()});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string bytes = test::ReadFile(saved);
  const auto expected = farm.Pit(6);
  EXPECT_EQ(bytes, std::string(expected.begin(), expected.end()));
  EXPECT_NE(r.out.find("system.img"), std::string::npos);
  const auto trace = farm.Trace(6);
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace.back().substr(0, 5), "103/0") << "the session is closed";
  for (const auto& line : trace) {
    EXPECT_NE(line.substr(0, 5), "103/1") << "no reboot";
    EXPECT_NE(line.substr(0, 5), "100/2") << "no download is announced";
  }
  EXPECT_TRUE(farm.Plugged(6));

  // The saved file reads back as the same table.
  const Result shown = Pit({saved});
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("10 entries"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("BOOTLOADER"), std::string::npos);
}

TEST(CliPit, DamagedTablesAndUsageErrors) {
  test::TempDir dir;
  PitTable table = devsim::BuiltinPitTable();
  auto bytes = EncodePitTable(table);
  bytes.resize(bytes.size() - 10);  // the last entry is cut
  test::WriteFile(dir / "cut.pit", std::string(bytes.begin(), bytes.end()));
  Result r = Pit({dir / "cut.pit"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("damaged: only 9 entries fit"), std::string::npos) << r.out;
  test::WriteFile(dir / "tiny.pit", "abc");
  r = Pit({dir / "tiny.pit"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("shorter than its header"), std::string::npos);
  EXPECT_EQ(Pit({dir / "missing.pit"}).status, 1);

  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {"--port", "1"},
                                             {"--out", "x.pit"},
                                             {"--port", "x", "--out", "y"},
                                             {"a.pit", "b.pit"},
                                             {"a.pit", "--port", "1", "--out", "y"}}) {
    r = Pit(args);
    EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
    EXPECT_NE(r.err.find("usage: mirk3-cli pit"), std::string::npos);
  }
}

TEST(CliPit, AnAbsentPhoneFailsClearly) {
  test::TempDir dir;
  const Result r = Pit(
      {"--port", "3", "--out", dir / "x.pit", "--port-dir", dir.Path(), "--open-attempts", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Can't open the serial port."), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(dir / "x.pit"));
}

}  // namespace
}  // namespace mirk3
