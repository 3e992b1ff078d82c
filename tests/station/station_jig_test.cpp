// The station with its test jig: the jig named in [D300Jig] is set up when the station starts,
// checked once, then told of each phone's start and result at that phone's position; a phone at
// no position tells it nothing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <filesystem>

#include "station/qt_report_sink.h"
#include "station/station.h"
#include "station/station_wiring.h"
#include "devsim/jig.h"
#include "devsim/phone_farm.h"
#include "jig/frames.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

using Lines = std::vector<std::string>;

class LogView : public StationView {
 public:
  void AppendLog(const std::string& line) override { log.push_back(line); }
  void ShowMessage(const std::string& text, const std::string&) override { log.push_back(text); }
  Lines log;
};

// The frames' texts without their checksums.
Lines Texts(const Lines& received) {
  Lines texts;
  for (const auto& line : received) texts.push_back(line.substr(0, 7));
  return texts;
}

TEST(StationJig, SetUpAtStartThenOneCheckThenEachPhoneAtItsPosition) {
  test::EnsureQtApplication();
  test::TempDir dir;
  devsim::FarmConfig config;
  config.portDir = dir / "ports";
  config.protocol = 3;
  config.ports = {0, 1, 5};
  config.faults[1].handshakeAnswer = "TASX";
  std::filesystem::create_directories(config.portDir);
  devsim::PhoneFarm farm(config);
  ASSERT_TRUE(farm.Start());
  devsim::JigConfig jigConfig;
  jigConfig.port = 3;
  devsim::EmulatedJig jig(jigConfig, config.portDir);
  std::string error;
  ASSERT_TRUE(jig.Start(&error)) << error;

  EngineContext context;
  context.timing = test::QuickTiming();
  context.timing.jigReplyPollPause = std::chrono::milliseconds(100);
  context.timing.jigSetupPause = std::chrono::milliseconds(1);
  context.portDir = config.portDir;
  // Port 0 at position 1, port 1 at position 8; port 5 at none.
  const Settings settings = LoadSettings(IniFile::Parse(
      "[Option]\nTitle=T\n[D300Jig]\nD300COM=3\nPosition1=0\nPosition8=1\n"));
  LogView view;
  Station* station = nullptr;
  QtReportSink sink([&](const PortEvent& e) { station->HandleEvent(e); });
  Station owned(&view, &sink, context);
  station = &owned;
  owned.ApplySettings(settings);
  const auto control = AttachJig(owned, settings, config.portDir);
  ASSERT_TRUE(control);
  const std::string package = dir / "AP_x.tar";
  test::WriteTar(package, {{"boot.img", test::TestBytes(4096, 2)}});
  owned.PickPackage(AP, package);
  for (int port : config.ports) owned.Ports().PlacePort(port);
  ASSERT_TRUE(owned.Start());
  QDeadlineTimer deadline(120000);
  while (owned.Busy() && !deadline.hasExpired()) QCoreApplication::processEvents();
  ASSERT_FALSE(owned.Busy());

  Lines expected;
  for (int phase : {1, 2}) {
    for (const auto& text : JigSetupPhase(phase, 0)) expected.push_back(text);
  }
  const Lines received = Texts(jig.Received());
  ASSERT_EQ(received.size(), expected.size() + 4);
  EXPECT_EQ(Lines(received.begin(), received.begin() + expected.size()), expected);
  EXPECT_EQ(received[expected.size()], ":S1VER?") << "one check before the first event";
  Lines events(received.begin() + expected.size() + 1, received.end());
  std::sort(events.begin(), events.end());
  EXPECT_EQ(events, (Lines{":S1ADOK", ":S1ADST", ":S8ADNG"}))
      << "port 0 started and passed at 1, port 1 failed at 8 before its download started";
  EXPECT_NE(std::find(view.log.begin(), view.log.end(), "<OSM> Anyway Jig setting is completed..."),
            view.log.end());
}

}  // namespace
}  // namespace mirk3
