// mirk3-cli pit: a table file shown, and a phone's own table read and saved.
#include "cli/cli_pit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "devsim/builtin_pit.h"
#include "devsim/phone_farm.h"
#include "pack/tar_writer.h"
#include "support/command_call.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"
#include "wire/pit_record.h"

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
  // Written beside its name and renamed into place: nothing else is left in the directory.
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(dir.Path())) {
    names.push_back(item.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"phone.pit", "ttyACM6"}));

  // The saved file reads back as the same table.
  const Result shown = Pit({saved});
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("10 entries"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("BOOTLOADER"), std::string::npos);
}

TEST(CliPit, WhatIsNotARegularFileHoldingATableIsRefusedAtOnce) {
  test::TempDir dir;
  auto bytes = EncodePitTable(devsim::BuiltinPitTable());
  bytes.resize(bytes.size() - 10);  // the last of its 10 entries is cut
  test::WriteFile(dir / "cut.pit", std::string(bytes.begin(), bytes.end()));
  test::WriteFile(dir / "tiny.pit", "abc");
  test::WriteFile(dir / "random.bin", test::TestBytes(4096, 7));
  // A firmware package of 1.5 GiB (sparse): its first words are a member's name.
  const auto header = pack::MakeTarHeader("system.img", uint64_t{3} << 29);
  test::WriteFile(dir / "AP.tar", std::string(header.begin(), header.end()));
  std::filesystem::resize_file(dir / "AP.tar", uint64_t{3} << 29);
  std::filesystem::create_directory(dir / "folder.pit");
  ASSERT_EQ(::mkfifo((dir / "fifo.pit").c_str(), 0600), 0);

  const std::vector<std::pair<std::string, std::string>> cases = {
      {dir / "cut.pit", "1338 bytes, too few for its 10 entries"},
      {dir / "tiny.pit", "3 bytes, shorter than its 28-byte header"},
      {dir / "random.bin", "not a partition table: 4096 bytes"},
      {dir / "AP.tar", "not a partition table: 1610612736 bytes"},
      {dir / "missing.pit", "no such file"},
      {dir / "folder.pit", "a directory"},
      {dir / "fifo.pit", "a pipe, not a regular file"},
      {"/dev/zero", "a device, not a regular file"},
  };
  for (const auto& [path, reason] : cases) {
    const Result r = Pit({path});
    EXPECT_EQ(r.status, 1) << path;
    EXPECT_EQ(r.err.rfind("mirk3-cli pit: " + path + ": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
    EXPECT_EQ(r.out, "") << "no entries are shown from what is not a table";
  }
}

TEST(CliPit, AnOutputThatIsNoRegularFileIsRefusedBeforeThePhoneIsGreeted) {
  test::TempDir dir;
  devsim::FarmConfig config;
  config.portDir = dir.Path();
  config.ports = {6};
  devsim::PhoneFarm farm(config);
  ASSERT_TRUE(farm.Start());
  ASSERT_EQ(::mkfifo((dir / "fifo.pit").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder");
  for (const auto& [out, reason] : std::vector<std::pair<std::string, std::string>>{
           {dir / "fifo.pit", "a pipe, not a regular file"},
           {"/dev/null", "a device, not a regular file"},
           {dir / "folder", "a directory, not a file"}}) {
    const Result r = Pit({"--port", "6", "--out", out, "--port-dir", dir.Path()});
    EXPECT_EQ(r.status, 1) << out;
    EXPECT_EQ(r.err, "mirk3-cli pit: " + out + ": " + reason + "\n");
  }
  EXPECT_TRUE(farm.Trace(6).empty()) << "the phone was never greeted";
  // A folder that does not exist: the table is read, then cannot be saved; nothing is left.
  const Result r = Pit({"--port", "6", "--out", dir / "none/x.pit", "--port-dir", dir.Path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "mirk3-cli pit: " + (dir / "none/x.pit") + ": no such file\n");
}

TEST(CliPit, UsageErrors) {
  const std::string onePhone =
      "reading a phone's table needs one --port N and --out FILE, and no FILE\n"
      "usage: mirk3-cli pit";
  const struct {
    std::vector<std::string> args;
    std::string message;  // a choice missing or at odds is followed by the usage line
  } cases[] = {
      {{}, "no table file given\nusage: mirk3-cli pit"},
      {{"--port", "1"}, onePhone},
      {{"--out", "x.pit"}, onePhone},
      {{"--port", "1-2", "--out", "x.pit"}, onePhone},
      {{"a.pit", "--port", "1", "--out", "y"}, onePhone},
      {{"--port", "x", "--out", "y"}, "--port: 'x'"},
      {{"a.pit", "b.pit"}, "b.pit"},
  };
  for (const auto& c : cases) {
    const Result r = Pit(c.args);
    EXPECT_EQ(r.status, 2) << ::testing::PrintToString(c.args);
    EXPECT_EQ(r.err.rfind("mirk3-cli pit: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
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
