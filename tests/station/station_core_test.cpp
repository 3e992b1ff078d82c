// The station core on Qt's event loop against emulated phones: a whole run through the six
// report handlers, requests refused while a run is in progress, auto start at exactly N, the
// progress guard before a total is known, Reset and how long the enable rules last, and the
// package picks and drops with the MD5 check's lines.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <regex>

#include "station/package_pick.h"
#include "station/qt_report_sink.h"
#include "station/station.h"
#include "devsim/phone_farm.h"
#include "pack/md5_package.h"
#include "support/station_harness.h"
#include "support/succeeded.h"
#include "support/temp_dir.h"
#include "packages/meta_data_results.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

using Lines = std::vector<std::string>;

class RecordingView : public StationView {
 public:
  void AppendLog(const std::string& line) override { log.push_back(line); }
  void ClearLog() override { log.clear(); }
  void ShowMessage(const std::string& text, const std::string& title) override {
    messages.push_back(title + ": " + text);
  }
  Lines log, messages;
};

bool RunEventsUntil(const std::function<bool()>& done, int ms = 120000) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return done();
}

class StationCore : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureQtApplication();
    config.portDir = dir / "ports";
    config.protocol = 3;  // plain packages, no device-information check
    std::filesystem::create_directories(config.portDir);
    context.timing = test::QuickTiming();
    context.portDir = config.portDir;
    test::WriteTar(package, {{"boot.img", test::TestBytes(200000, 1)}});
  }

  void MakeStation() {
    sink = std::make_unique<QtReportSink>(
        [this](const PortEvent& e) { station->HandleEvent(e); });
    station = std::make_unique<Station>(&view, sink.get(), context);
    station->ApplySettings(settings);
  }

  bool StartFarm() {
    farm = std::make_unique<devsim::PhoneFarm>(config);
    return farm->Start();
  }

  Lines LinesWith(const std::string& text) const {
    Lines out;
    for (const auto& line : view.log) {
      if (line.find(text) != std::string::npos) out.push_back(line);
    }
    return out;
  }

  test::TempDir dir;
  std::string package = dir / "AP_test.tar";
  devsim::FarmConfig config;
  EngineContext context;
  Settings settings;
  RecordingView view;
  std::unique_ptr<QtReportSink> sink;  // made after the application
  std::unique_ptr<Station> station;
  std::unique_ptr<devsim::PhoneFarm> farm;
};

// Three phones, the third refusing the greeting: two passes, one failure, and the slots, the
// log and the counts as the window shows them.
TEST_F(StationCore, AWholeRunThroughTheSixHandlers) {
  config.ports = {0, 1, 2};
  config.faults[2].handshakeAnswer = "TASX";
  ASSERT_TRUE(StartFarm());
  MakeStation();
  ASSERT_TRUE(station->PickPackage(AP, package));
  for (int port : {0, 1, 2}) station->Ports().PlacePort(port);
  EXPECT_EQ(station->Slot(2).portLabel, "2:[ttyACM2]");
  EXPECT_EQ(LinesWith("Added!!"), (Lines{"<ID:0/000> Added!!", "<ID:1/001> Added!!",
                                         "<ID:2/002> Added!!"}));
  std::vector<int> passed, failed;
  QObject::connect(station.get(), &Station::portPassed, [&](int p) { passed.push_back(p); });
  QObject::connect(station.get(), &Station::portFailed, [&](int p) { failed.push_back(p); });

  ASSERT_TRUE(station->Start());
  EXPECT_TRUE(station->Busy());
  EXPECT_FALSE(station->Enables().Enabled(CONTROL_START));
  EXPECT_EQ(station->StartedPorts(), 3);
  ASSERT_TRUE(RunEventsUntil([&] { return !station->Busy(); }));

  EXPECT_EQ(station->Succeeded(), 2);
  EXPECT_EQ(station->Failed(), 1);
  EXPECT_EQ(station->RemainingPorts(), 1) << "a failure does not count down";
  EXPECT_EQ(passed.size(), 2u);
  EXPECT_EQ(failed, std::vector<int>{2}) << "one broadcast per failing port";
  for (int slot : {0, 1}) {
    EXPECT_EQ(station->Slot(slot).picture, SlotPicture::Pass);
    EXPECT_EQ(station->Slot(slot).status, "PASS!");
    EXPECT_FALSE(station->Slot(slot).progressShown);
    EXPECT_TRUE(station->Slot(slot).timeShown);
  }
  EXPECT_EQ(station->Slot(2).picture, SlotPicture::Fail);
  EXPECT_EQ(station->Slot(2).status, "FAIL!");
  EXPECT_EQ(station->Slot(2).portLabel, "") << "every slot is freed after the run";
  EXPECT_EQ(LinesWith("Remain Port").size(), 2u);
  EXPECT_EQ(LinesWith("<ID:2/002> FAIL!").size(), 1u);
  EXPECT_EQ(view.log.back(), "<OSM> All threads completed. (succeed 2 / failed 1)");
  EXPECT_TRUE(station->Enables().Enabled(CONTROL_START));
  EXPECT_EQ(station->PortRuns().at(0).verdict, Verdict::Passed);
  EXPECT_EQ(station->PortRuns().at(0).sent, 200000u);
  EXPECT_EQ(station->PortRuns().at(2).verdict, Verdict::Failed);
}

TEST_F(StationCore, APassShowsTheTimeSinceStartAndTheBarGoes) {
  config.ports = {4};
  ASSERT_TRUE(StartFarm());
  MakeStation();
  station->PickPackage(AP, package);
  station->Ports().PlacePort(4);
  ASSERT_TRUE(station->Start());
  ASSERT_TRUE(RunEventsUntil([&] { return !station->Busy(); }));
  EXPECT_TRUE(std::regex_match(station->Slot(0).timeText, std::regex(" [0-9]{2}:[0-9]{2} ")))
      << station->Slot(0).timeText;
  EXPECT_EQ(LinesWith("Remain Port"), Lines{"<ID:0/004> Remain Port ....  0 "});
}

// A Start, a Reset, a pick or a drop during a run changes nothing and says why.
TEST_F(StationCore, RequestsDuringARunAreRefused) {
  config.ports = {0};
  config.faults[0].silentAfter = 0;  // answers the greeting, then keeps the run waiting
  context.timing.firstByteTimeout = std::chrono::milliseconds(1500);
  ASSERT_TRUE(StartFarm());
  MakeStation();
  station->PickPackage(AP, package);
  station->Ports().PlacePort(0);
  ASSERT_TRUE(station->Start());
  EXPECT_FALSE(station->Start());
  EXPECT_FALSE(station->Reset());
  EXPECT_FALSE(station->PickPackage(BL, package));
  EXPECT_EQ(station->DropFiles({dir / "BL_x.tar"}), 0);
  EXPECT_EQ(station->Packages().path[AP], package);
  EXPECT_EQ(station->Packages().use[BL], 0);
  EXPECT_EQ(LinesWith("refused: a run is in progress").size(), 4u);
  ASSERT_TRUE(RunEventsUntil([&] { return !station->Busy(); }));
  EXPECT_EQ(station->Runs(), 1);
}

// Auto start "2": the run starts when the second phone is added, not with the first.
TEST_F(StationCore, AutoStartWaitsForExactlyTheChosenNumber) {
  farm = std::make_unique<devsim::PhoneFarm>(config);  // no phone plugged yet
  MakeStation();
  station->PickPackage(AP, package);
  station->SetAutoStart("2");
  ASSERT_TRUE(test::Succeeded(station->WatchPorts()));
  std::string plugError;
  ASSERT_TRUE(farm->Plug(0, &plugError)) << plugError;
  ASSERT_TRUE(RunEventsUntil([&] { return station->Ports().CountOccupiedSlots() == 1; }));
  RunEventsUntil([] { return false; }, 300);  // well past the auto-start delay
  EXPECT_EQ(station->Runs(), 0);
  ASSERT_TRUE(farm->Plug(1));
  ASSERT_TRUE(RunEventsUntil([&] { return station->Runs() == 1; }));
  EXPECT_EQ(station->StartedPorts(), 2);
  ASSERT_TRUE(RunEventsUntil([&] { return !station->Busy(); }));
  EXPECT_EQ(station->Succeeded(), 2);
}

// Progress that comes before the slot's total leaves the bar alone; half the total shows 50.
TEST_F(StationCore, ProgressBeforeTheTotalIsKnownLeavesTheBarAlone) {
  MakeStation();
  station->Ports().PlacePort(9);
  station->HandleEvent(PortEvent{9, Progress{"boot.img", 4096}});
  EXPECT_EQ(station->Slot(0).progress, 0);
  EXPECT_EQ(station->Slot(0).status, "boot.img");
  station->HandleEvent(PortEvent{9, DownloadStarted{8192, "Firmware update start.."}});
  station->HandleEvent(PortEvent{9, Progress{"boot.img", 4096}});
  EXPECT_EQ(station->Slot(0).progress, 50);
}

// Reset puts the loaded option states back, empties the fields and the log, keeps the port
// labels; OptionEnable=0 and UMS/PATCH=0 hold for good.
TEST_F(StationCore, ResetAndTheEnableRulesLifetime) {
  settings = LoadSettings(IniFile::Parse(
      "[Option]\nTitle=T\nOptionEnable=0\n[APOption]\nRePartition=1\nAutoReboot=0\n"
      "[ButtonOption]\nUMS/PATCH=0\n"));
  MakeStation();
  station->Ports().PlacePort(3);
  EXPECT_FALSE(station->Enables().Enabled(CONTROL_FLASH_LOCK));
  EXPECT_FALSE(station->PickPackage(UMS, package)) << "the UMS button is disabled";
  station->PickPackage(AP, package);
  station->PickPit(dir / "table.pit");
  station->Options().RePartition = 0;
  station->Options().AutoReboot = 1;
  station->Options().rtnForSprint = 1;
  station->Options().deviceInfo = 1;
  ASSERT_TRUE(station->Reset());
  EXPECT_EQ(station->Options().deviceInfo, 1) << "Reset leaves Device Info as it is";
  EXPECT_EQ(station->Options().RePartition, 1);
  EXPECT_EQ(station->Options().AutoReboot, 0);
  EXPECT_EQ(station->Options().rtnForSprint, 0);
  EXPECT_EQ(station->Packages().use[AP], 0);
  EXPECT_EQ(station->Packages().path[AP], "");
  EXPECT_EQ(station->Packages().pitPath, "");
  EXPECT_TRUE(view.log.empty());
  EXPECT_EQ(station->Slot(0).portLabel, "0:[ttyACM3]");

  station->DropFiles({package});  // a busy spell, on and off
  EXPECT_FALSE(station->Enables().Enabled(CONTROL_FLASH_LOCK));
  EXPECT_FALSE(station->Enables().Enabled(CONTROL_PICK_UMS));
}

TEST_F(StationCore, PicksAndDropsFillTheirFieldsAsTheWindowDoes) {
  const std::string good = dir / "HOME_CSC_X.tar";
  test::WriteTar(good, {{"cache.img", std::string(1572864 - 2048, 'c')}});
  std::string error;
  ASSERT_TRUE(pack::WriteMd5Package(good, error)) << error;
  test::WriteFile(dir / "BL_bad.tar.md5", test::ReadFile(good + ".md5") + "x");
  MakeStation();

  // A plain tar is taken without a line; its size is shown.
  ASSERT_TRUE(station->PickPackage(AP, good));
  EXPECT_TRUE(view.log.empty());
  EXPECT_EQ(station->BinarySizeText(), "1.5MB");
  // An MD5 package is checked with the window's lines, in order.
  ASSERT_TRUE(station->PickPackage(CSC, good + ".md5"));
  EXPECT_EQ(view.log, (Lines{"<OSM> Enter CS for MD5..", "<OSM> Check MD5.. Do not unplug the cable..",
                             "<OSM> Please wait..", "<OSM> Checking MD5 finished Sucessfully..",
                             "<OSM> Leave CS.."}));
  view.log.clear();
  EXPECT_FALSE(station->PickPackage(BL, dir / "BL_bad.tar.md5"));
  EXPECT_EQ(view.log.end()[-2], "<OSM> BL_bad.tar.md5 is invalid.");
  EXPECT_EQ(view.log.back(), "<OSM> End...");
  EXPECT_EQ(view.messages, Lines{"Mirk Downloader: md5 error! Binary is invalid"});
  EXPECT_EQ(station->Packages().use[BL], 0);
  EXPECT_EQ(station->Packages().path[BL], "");

  // A drop: BL and CP at once; a refused .md5 and names of no package fill nothing.
  for (const char* name : {"BL_a.tar", "CP_b.tar", "bl_c.tar", "ALL_d.tar", "UMS_e.tar"}) {
    test::WriteTar(dir / name, {{"x.img", "x"}});
  }
  EXPECT_EQ(station->DropFiles({dir / "BL_a.tar", dir / "CP_b.tar", dir / "bl_c.tar",
                                dir / "BL_bad.tar.md5", dir / "UMS_e.tar"}),
            2);
  EXPECT_EQ(station->Packages().path[BL], dir / "BL_a.tar");
  EXPECT_EQ(station->Packages().path[CP], dir / "CP_b.tar");
  EXPECT_EQ(station->Packages().use[UMS], 0);
  EXPECT_EQ(station->DropFiles({dir / "ALL_d.tar"}), 1);
  EXPECT_EQ(station->Packages().path[AP], dir / "ALL_d.tar");
  station->PickPit(dir / "x.pit");
  EXPECT_EQ(station->Options().RePartition, 1) << "the PIT pick sets Re-Partition";
}

// Nothing that an event loop hands over during a pick can start a run: the BL pick's check and
// its pause hold the station, a Start then is refused, and a phone plugged meanwhile is placed
// once after the pick (its auto-started run flashes it once, not again at that run's end).
TEST_F(StationCore, APickHoldsTheStationAndALateArrivalIsFlashedOnce) {
  test::WriteFile(dir / "BL_bad.tar.md5", "not a tar\n0123456789abcdef0123456789abcdef  BL_bad.tar\n");
  context.timing.blPickPause = std::chrono::milliseconds(400);
  farm = std::make_unique<devsim::PhoneFarm>(config);  // no phone plugged yet
  MakeStation();
  station->PickPackage(AP, package);
  station->SetAutoStart("1");
  ASSERT_TRUE(test::Succeeded(station->WatchPorts()));
  std::vector<int> startsDuringPick;
  QTimer::singleShot(50, [&] {
    EXPECT_EQ(station->State(), StationState::CheckingPick);
    startsDuringPick.push_back(station->Start());
    ASSERT_TRUE(farm->Plug(1));
  });
  EXPECT_FALSE(station->PickPackage(BL, dir / "BL_bad.tar.md5"));
  EXPECT_EQ(startsDuringPick, std::vector<int>{0});
  EXPECT_EQ(LinesWith("Start refused: a package is being checked").size(), 1u);
  EXPECT_EQ(station->Ports().SlotOfPort(1), 0) << "placed once the pick was over";
  ASSERT_TRUE(RunEventsUntil([&] { return station->Runs() == 1 && !station->Busy(); }));
  EXPECT_EQ(station->Succeeded(), 1);
  RunEventsUntil([] { return false; }, 300);  // well past another auto start
  EXPECT_EQ(station->Runs(), 1) << "the phone was flashed twice";
  EXPECT_EQ(LinesWith("Added!!").size(), 1u);
}

// A run's end that a message box's event loop interrupts: a Start or a companion's request
// then is refused and never joins the watcher that waits for this thread; the station becomes
// idle afterwards, a phone plugged during the run is placed, and the next run takes it.
TEST_F(StationCore, ARunsEndCannotBeInterruptedByAStart) {
  config.ports = {0};
  ASSERT_TRUE(StartFarm());
  MakeStation();
  station->PickPackage(AP, package);
  ASSERT_TRUE(test::Succeeded(station->WatchPorts()));
  ASSERT_EQ(station->Ports().SlotOfPort(0), 0);
  std::vector<int> refused;
  QObject::connect(station.get(), &Station::runStarted, [&](int run, int) {
    if (run == 1) {
      ASSERT_TRUE(farm->Plug(1));
    }
  });
  QObject::connect(station.get(), &Station::runEnded, [&](int run, int, int) {
    if (run != 1) return;
    QEventLoop box;  // as a message box raised here would
    QTimer::singleShot(50, [&] {
      refused.push_back(station->Start());
      refused.push_back(station->StartForCompanion());
    });
    QTimer::singleShot(300, &box, &QEventLoop::quit);
    box.exec();
  });
  ASSERT_TRUE(station->Start());
  ASSERT_TRUE(RunEventsUntil([&] { return station->Runs() == 1 && !station->Busy(); }));
  EXPECT_EQ(refused, (std::vector<int>{0, 0}));
  EXPECT_EQ(LinesWith("Start refused: a run is ending").size(), 2u);
  EXPECT_EQ(station->Ports().SlotOfPort(1), 0) << "the late arrival is placed at the end";
  ASSERT_TRUE(station->Start());
  EXPECT_EQ(station->StartedPorts(), 1);
  ASSERT_TRUE(RunEventsUntil([&] { return !station->Busy(); }));
  EXPECT_EQ(station->Succeeded(), 1);
}

// Lost events: a resync frees the slot of a phone that has gone and places the one that came.
TEST_F(StationCore, AResyncRemovesGhostsAndPlacesNewcomers) {
  config.ports = {0, 1};
  ASSERT_TRUE(StartFarm());
  MakeStation();
  for (int port : {0, 1}) station->Ports().PlacePort(port);
  farm->Unplug(1);
  ASSERT_TRUE(farm->Plug(2));
  station->ResyncPorts();
  EXPECT_EQ(station->Ports().PortOfSlot(1), 2);
  EXPECT_EQ(station->Ports().PortOfSlot(0), 0);
  EXPECT_EQ(LinesWith("Removed!!"), Lines{"<ID:1/001> Removed!!"});
  EXPECT_EQ(LinesWith("<ID:1/002> Added!!").size(), 1u);
}

// A signed package is hashed once in the station's life: its next run takes the verdict kept.
TEST_F(StationCore, APackageIsCheckedOnceForAllTheRunsOfTheStation) {
  config.ports = {0, 1};
  ASSERT_TRUE(StartFarm());
  test::WriteSignedPackage(package, {{"boot.img", test::TestBytes(200000, 1)}}, "MIRK3-DEMO_EUR");
  MakeStation();
  ASSERT_TRUE(station->PickPackage(AP, package));
  for (int port : {0, 1}) {
    station->Ports().PlacePort(port);
    ASSERT_TRUE(station->Start());
    ASSERT_TRUE(RunEventsUntil([&] { return !station->Busy(); }));
    EXPECT_EQ(station->Succeeded(), 1) << "run of port " << port;
  }
  EXPECT_EQ(station->Context().metaDataResults->ChecksRun(), 1);
}

// With every slot but two kept for absent ports, a third phone waits (said once), is placed
// when the run frees the slots, and is flashed by the next run; a phone unplugged after its
// run is said to be removed although its slot was already free.
TEST_F(StationCore, APortWithoutAFreeSlotWaitsForTheNextRun) {
  config.ports = {0, 1, 2};
  ASSERT_TRUE(StartFarm());
  MakeStation();
  for (int slot = 2; slot < DISPLAYED_SLOTS; ++slot) station->Ports().ReserveSlot(slot, 900 + slot);
  station->PickPackage(AP, package);
  ASSERT_TRUE(test::Succeeded(station->WatchPorts()));
  EXPECT_EQ(LinesWith("waits for a free slot"), Lines{"<OSM> ttyACM2 waits for a free slot"});
  ASSERT_TRUE(station->Start());
  EXPECT_EQ(station->StartedPorts(), 2);
  ASSERT_TRUE(RunEventsUntil([&] { return !station->Busy(); }));
  EXPECT_EQ(station->Ports().PortOfSlot(0), 2);
  ASSERT_TRUE(station->Start());
  ASSERT_TRUE(RunEventsUntil([&] { return !station->Busy(); }));
  EXPECT_EQ(station->Succeeded(), 1);
  EXPECT_EQ(station->PortRuns().count(2), 1u);
  farm->Unplug(1);
  ASSERT_TRUE(RunEventsUntil([&] { return !LinesWith("<ID:1/001> Removed!!").empty(); }));
}

// A port dir deleted and made again: the station says so both times, frees the slots of the
// phones that went with it, and places a phone plugged into the new dir.
TEST_F(StationCore, APortDirThatGoesAndComesBackIsFollowed) {
  config.ports = {0};
  ASSERT_TRUE(StartFarm());
  MakeStation();
  ASSERT_TRUE(test::Succeeded(station->WatchPorts()));
  ASSERT_EQ(station->Ports().PortOfSlot(0), 0);
  std::filesystem::remove_all(config.portDir);
  ASSERT_TRUE(RunEventsUntil([&] { return !LinesWith("is gone").empty(); }));
  ASSERT_TRUE(RunEventsUntil([&] { return station->Ports().CountOccupiedSlots() == 0; }));
  std::filesystem::create_directories(config.portDir);
  ASSERT_TRUE(RunEventsUntil([&] { return !LinesWith("is back").empty(); }));
  farm->Unplug(0);
  ASSERT_TRUE(farm->Plug(1));
  ASSERT_TRUE(RunEventsUntil([&] { return station->Ports().SlotOfPort(1) == 0; }));
}

TEST(PackageNames, TheRulesOfDropsAndOfStart) {
  const struct {
    const char* path;
    const char* runAs;
    int dropSlot;
  } cases[] = {
      {"/p/a.tar.gz", "/p/a.tar", -1},     {"/p/a.TGZ", "/p/a.tar", -1},
      {"/p/a.gz", "/p/a", -1},             {"/p/BL_a.tar", "/p/BL_a.tar", BL},
      {"/p/AP_a.tar.md5", "/p/AP_a.tar.md5", AP}, {"/p/ALL_a.TAR", "/p/ALL_a.TAR", AP},
      {"/p/CP_a.tar.MD5", "/p/CP_a.tar.MD5", CP}, {"/p/CSC_a.tar", "/p/CSC_a.tar", CSC},
      {"/p/HOME_CSC_a.tar", "/p/HOME_CSC_a.tar", CSC}, {"/p/bl_a.tar", "/p/bl_a.tar", -1},
      {"/p/BL_a.bin", "/p/BL_a.bin", -1},  {"/BL/UMS_a.tar", "/BL/UMS_a.tar", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NormalizedPackageName(c.path), c.runAs) << c.path;
    EXPECT_EQ(DropSlotOf(c.path), c.dropSlot) << c.path;
  }
}

}  // namespace
}  // namespace mirk3
