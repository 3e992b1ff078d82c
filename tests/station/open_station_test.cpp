// The start-up both faces share: each step that must refuse the station refuses it with status
// 2 and words that name what is wrong, before anything could wait for ever; a station that
// opens has its outputs joined.
#include "station/open_station.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "station/headless.h"
#include "support/station_harness.h"
#include "support/succeeded.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

class NoView : public StationView {
 public:
  void AppendLog(const std::string& line) override { lines.push_back(line); }
  void ShowMessage(const std::string&, const std::string&) override {}
  std::vector<std::string> lines;
};

class OpenStationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureQtApplication();
    std::filesystem::create_directories(ports);
    test::WriteFile(ini, "[Option]\nTitle=Line 5\n");
    test::WriteTar(package, {{"boot.img", test::TestBytes(1000, 1)}});
  }

  StationConfig Config() {
    StationConfig config;
    config.who = "test";
    config.iniPath = ini;
    config.noBus = true;
    config.context.portDir = ports;
    config.context.ownExecutablePath.clear();
    config.err = &said;
    config.makeCore = [this](const EngineContext& context, const Settings& settings) -> Station& {
      core.emplace(&view, context);
      core->Core().ApplySettings(settings, context.portDir);
      return core->Core();
    };
    config.choosePackages = [this](Station& station) {
      return station.PickPackage(1, package);  // AP
    };
    return config;
  }

  test::TempDir dir;
  std::string ports = dir / "ports";
  std::string ini = dir / "Mirk3.ini";
  std::string package = dir / "AP_open.tar";
  std::ostringstream said;
  NoView view;
  std::optional<StationCore> core;
};

TEST_F(OpenStationTest, EachRefusalHasStatus2AndNamesWhatIsWrong) {
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  std::filesystem::create_directories(dir / "logs");
  const std::string todaysLog =
      DatedFileName(dir / "logs", "mirk3-", ".log", std::chrono::system_clock::now());
  ASSERT_EQ(::mkfifo(todaysLog.c_str(), 0644), 0);
  const auto held = LockPortDir(dir / "held");
  ASSERT_TRUE(test::Succeeded(held));

  struct Case {
    const char* name;
    std::function<void(StationConfig&)> change;
    std::string text;     // in the line for standard error
    std::string message;  // the window's box, when it shows one
  };
  const std::vector<Case> cases = {
      {"no settings file", [&](StationConfig& c) { c.iniPath = dir / "none.ini"; }, "",
       ""},  // said while it is read
      {"a FIFO as the results file", [&](StationConfig& c) { c.resultsPath = dir / "fifo"; },
       "cannot open the results file \"" + dir / "fifo" + "\": it is a FIFO, not a regular file",
       "it is a FIFO"},
      {"a FIFO as today's log", [&](StationConfig& c) { c.logDir = dir / "logs"; },
       "cannot open the log file \"" + todaysLog + "\": it is a FIFO", "it is a FIFO"},
      {"a FIFO as the meta-data key", [&](StationConfig& c) { c.metaKeyFile = dir / "fifo"; },
       "the meta-data key " + dir / "fifo", ""},
      {"a port dir another station holds",
       [&](StationConfig& c) {
         c.context.portDir = dir / "held";
         std::filesystem::create_directories(dir / "held");
       },
       "the port dir " + dir / "held" + " is in use by another station (pid " +
           std::to_string(::getpid()) + ")",
       "is in use by another station"},
      {"nothing chosen", [](StationConfig& c) { c.choosePackages = nullptr; }, "nothing is chosen",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    said.str("");
    StationConfig config = Config();
    c.change(config);
    const OpenOutcome outcome = OpenStation(config);
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error.status, 2);
    EXPECT_NE(outcome.error.text.find(c.text), std::string::npos) << outcome.error.text;
    EXPECT_NE(outcome.error.message.find(c.message), std::string::npos) << outcome.error.message;
    if (c.text.empty()) {
      EXPECT_NE(said.str(), "") << "said on the way instead";
    }
    core.reset();
  }
}

// An opened station holds its port dir, and its outputs are joined: a finished port is a
// record in the results file, a log line a line in the dated log.
TEST_F(OpenStationTest, AnOpenedStationHoldsItsPortDirAndWritesItsOutputs) {
  StationConfig config = Config();
  config.resultsPath = dir / "results.jsonl";
  config.logDir = dir / "logs";
  const OpenOutcome outcome = OpenStation(config);
  ASSERT_TRUE(outcome) << outcome.error.text << said.str();
  EXPECT_FALSE(LockPortDir(ports)) << "a second station on the same dir";

  PortRun run;
  run.port = 4;
  run.verdict = Verdict::Passed;
  Q_EMIT outcome.opened->station->portFinished(run);
  outcome.opened->station->LogLine("a line of the test");
  EXPECT_NE(test::ReadFile(dir / "results.jsonl").find("\"port\":4"), std::string::npos);
  EXPECT_NE(test::ReadFile(outcome.opened->logFiles->log.Path()).find("<OSM> a line of the test"),
            std::string::npos);
  EXPECT_FALSE(outcome.opened->health.AnyLost());
}

}  // namespace
}  // namespace mirk3
