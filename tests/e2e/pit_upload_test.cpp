// Partition-table uploads end to end: whatever its source (the operator's file, a package's
// member, the table a One Click program carries), a file that is not a table never starts a
// re-partition, and a PIT path that names no regular file fails at once and says why.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "cli/cli_flash.h"
#include "devsim/builtin_pit.h"
#include "devsim/phone_farm.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"
#include "wire/pit_record.h"

namespace mirk3 {
namespace {

using Lines = std::vector<std::string>;
constexpr char kModel[] = "MIRK3-DEMO_EUR";

class PitUpload : public ::testing::Test {
 protected:
  void StartFarm(std::vector<int> ports) {
    devsim::FarmConfig config;
    config.portDir = dir / "ports";
    config.ports = std::move(ports);
    std::filesystem::create_directories(config.portDir);
    farm = std::make_unique<devsim::PhoneFarm>(config);
    std::string error;
    ASSERT_TRUE(farm->Start(&error)) << error;
  }

  // The AP package, with the table as its member when one is given.
  std::string Package(const std::string& name, const std::string* pit) {
    std::vector<test::TarEntry> members = {{"boot.img", "b"}};
    if (pit) members.push_back({"mirk3.pit", *pit});
    const std::string path = dir / name;
    test::WriteSignedPackage(path, members, kModel);
    return path;
  }

  // A One Click program that carries the AP package and `pit` as its table, re-partitioning.
  std::string OneClickProgram(const std::string& name, const std::string& pit) {
    const std::string ap = test::ReadFile(Package(name + ".AP.tar", nullptr));
    std::string bytes(4096, '\x7f');  // stands for the station program
    OneClickTrailer trailer;
    trailer.slots[AP] = {static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(ap.size()),
                         ONECLICK_TAR};
    bytes += ap;
    trailer.pitOffset = static_cast<uint32_t>(bytes.size());
    trailer.pitSize = static_cast<uint32_t>(pit.size());
    bytes += pit;
    trailer.rePartition = 1;
    for (char c : std::string(ONECLICK_TITLE)) trailer.title.push_back(static_cast<char16_t>(c));
    const auto encoded = trailer.Encode();
    const std::string path = dir / name;
    test::WriteFile(path, bytes + std::string(encoded.begin(), encoded.end()));
    return path;
  }

  test::RunResult Run(int port, const DownloadOptions& options, const std::string& program = "") {
    EngineContext context;
    context.timing = test::QuickTiming();
    context.portDir = dir / "ports";
    if (!program.empty()) context.ownExecutablePath = program;
    return test::RunStation({port}, options, context);
  }

  bool Sent(int port, const std::string& request) {
    for (const auto& line : farm->Trace(port)) {
      if (line.rfind(request + " ", 0) == 0 || line == request) return true;
    }
    return false;
  }

  test::TempDir dir;
  std::unique_ptr<devsim::PhoneFarm> farm;
};

TEST_F(PitUpload, WhatIsNotATableNeverStartsARePartition) {
  PitTable builtin = devsim::BuiltinPitTable();
  auto overflowing = EncodePitTable(builtin);
  overflowing[4] = static_cast<uint8_t>(builtin.entries.size() + 1);  // one entry it lacks
  const size_t overflowSize = overflowing.size();
  struct Table {
    const char* name;
    std::string bytes;
    std::string found;  // what the log line says of it
  };
  const std::vector<Table> tables = {
      {"empty", "", "0 bytes, shorter than its 28-byte header"},
      {"header-only", std::string(PIT_HEADER_SIZE, '\0'), "28 bytes, 0 entries"},
      {"overflowing", std::string(overflowing.begin(), overflowing.end()),
       std::to_string(overflowSize) + " bytes, too few for its 11 entries (" +
           std::to_string(overflowSize + PIT_ENTRY_SIZE) + " bytes)"},
  };
  enum Source { OPERATOR, PACKAGE, ONE_CLICK };
  StartFarm({0, 1, 2, 3, 4, 5, 6, 7, 8});
  int port = 0;
  for (const Source source : {OPERATOR, PACKAGE, ONE_CLICK}) {
    for (const Table& table : tables) {
      SCOPED_TRACE(std::string(table.name) + " from source " + std::to_string(source));
      const std::string name = std::to_string(port) + "-" + table.name;
      DownloadOptions options = DefaultRunOptions();
      std::string file, program;
      if (source == OPERATOR) {
        options.RePartition = 1;
        options.pitPath = file = dir / (name + ".pit");
        test::WriteFile(file, table.bytes);
      }
      if (source != ONE_CLICK) {
        options.slotEnabled[AP] = 1;
        options.slotPath[AP] = Package(name + ".tar", source == PACKAGE ? &table.bytes : nullptr);
        if (source == PACKAGE) file = options.slotPath[AP];
      } else {
        file = program = OneClickProgram(name + ".exe", table.bytes);
      }
      const test::RunResult result = Run(port, options, program);
      EXPECT_EQ(result.failed, 1);
      EXPECT_EQ(result.failures.at(port), (Lines{"Re-Partition operation failed.|4"}));
      const Lines lines = result.PortLines(port);
      const auto failure = std::find(lines.begin(), lines.end(), "Re-Partition operation failed.");
      ASSERT_NE(failure, lines.end()) << ::testing::PrintToString(lines);
      ASSERT_NE(failure + 1, lines.end());
      EXPECT_EQ(failure[1], file + ": not a partition table: " + table.found);
      EXPECT_NE(std::find(lines.begin(), failure, "DO NOT TURN OFF TARGET!!"), failure);
      EXPECT_FALSE(Sent(port, "101/0")) << ::testing::PrintToString(farm->Trace(port));
      EXPECT_FALSE(Sent(port, "101/2"));
      ++port;
    }
  }
}

TEST_F(PitUpload, APitPathThatNamesNoRegularFileFailsAtOnceAndSaysWhy) {
  ASSERT_EQ(::mkfifo((dir / "fifo.pit").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder.pit");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {dir / "fifo.pit", "a pipe, not a regular file"},  // would block until a writer came
      {dir / "folder.pit", "a directory, not a file"},
      {dir / "missing.pit", "no such file"},
  };
  StartFarm({0, 1, 2});
  int port = 0;
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path);
    DownloadOptions options = DefaultRunOptions();
    options.RePartition = 1;
    options.pitPath = path;
    options.slotEnabled[AP] = 1;
    options.slotPath[AP] = Package(std::to_string(port) + ".tar", nullptr);
    const test::RunResult result = Run(port, options);
    EXPECT_EQ(result.failures.at(port), (Lines{"Can't open the specified file. (Line: 1831)|1"}));
    const Lines lines = result.PortLines(port);
    const auto failure =
        std::find(lines.begin(), lines.end(), "Can't open the specified file. (Line: 1831)");
    ASSERT_NE(failure, lines.end()) << ::testing::PrintToString(lines);
    ASSERT_NE(failure + 1, lines.end());
    EXPECT_EQ(failure[1], path + ": " + reason);
    EXPECT_FALSE(Sent(port, "101/0"));
    ++port;
  }
}

}  // namespace
}  // namespace mirk3
