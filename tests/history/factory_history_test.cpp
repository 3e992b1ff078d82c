// A factory loop of 200 phones beside emulated phones, 8 slots by 25 runs, the phone on one
// cable failing every time: the station stores every record through its history hook, logs
// the slot's crossing into flagged once and quarantines it; `mirk3-cli results` flags that
// slot and no other; `mirk3-cli results --clear-slot` gives it back to the running station.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "devsim/phone_farm.h"
#include "station/history_wiring.h"
#include "station/qt_report_sink.h"
#include "station/station.h"
#include "support/program_run.h"
#include "support/station_harness.h"
#include "support/succeeded.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

class LogView : public StationView {
 public:
  void AppendLog(const std::string& line) override { log.push_back(line); }
  void ShowMessage(const std::string& text, const std::string&) override { log.push_back(text); }
  std::vector<std::string> With(const std::string& text) const {
    std::vector<std::string> out;
    for (const auto& line : log) {
      if (line.find(text) != std::string::npos) out.push_back(line);
    }
    return out;
  }
  std::vector<std::string> log;
};

bool RunEventsUntil(const std::function<bool()>& done, int ms = 120000) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return done();
}

constexpr int PHONES = 8, RUNS = 25, BAD = 5;

TEST(FactoryHistory, TheSlotOfABadCableIsFlaggedAndNoOther) {
  test::EnsureQtApplication();
  test::TempDir dir;
  devsim::FarmConfig config;
  config.portDir = dir / "ports";
  config.protocol = 3;
  std::filesystem::create_directories(config.portDir);
  for (int p = 0; p < PHONES; ++p) config.ports.push_back(p);
  config.faults[BAD].vanishAfterBytes = 3000;  // the cable drops every phone mid-transfer
  devsim::PhoneFarm farm(config);
  ASSERT_TRUE(farm.Start());
  const std::string package = dir / "AP_line.tar";
  test::WriteTar(package, {{"boot.img", test::TestBytes(20000, 7)}});

  EngineContext context;
  context.timing = test::QuickTiming();
  context.portDir = config.portDir;
  LogView view;
  Station* core = nullptr;
  QtReportSink sink([&core](const PortEvent& e) { core->HandleEvent(e); });
  Station station(&view, &sink, context);
  core = &station;
  Settings settings;
  settings.title = "Line 3";
  station.ApplySettings(settings);
  ASSERT_TRUE(station.PickPackage(AP, package));

  HistoryOptions options;
  options.resultsDb = dir / "history.sqlite";
  options.metricsPath = dir / "mirk3.prom";
  options.quarantine = true;
  options.pollEvery = std::chrono::milliseconds(100);
  auto attached = AttachHistory(station, options);
  ASSERT_TRUE(test::Succeeded(attached));
  const std::unique_ptr<StationHistory> history = std::move(attached).value();
  ASSERT_TRUE(history);
  std::vector<std::pair<int, bool>> changes;
  history->OnQuarantineChange([&changes](int slot, bool on) { changes.push_back({slot, on}); });

  for (int run = 0; run < RUNS; ++run) {
    for (int p = 0; p < PHONES; ++p) {
      if (!farm.Plugged(p)) {
        ASSERT_TRUE(farm.Plug(p)) << "run " << run << " port " << p;
      }
      station.Ports().PlacePort(p);
    }
    ASSERT_TRUE(station.Start()) << "run " << run;
    ASSERT_TRUE(RunEventsUntil([&] { return !station.Busy(); })) << "run " << run;
    ASSERT_EQ(station.Failed(), 1) << "run " << run;
  }
  ASSERT_TRUE(history->Flush(std::chrono::seconds(60)));
  EXPECT_FALSE(history->Failed());
  EXPECT_EQ(view.With("check the cable or hub").size(), 1u) << "told once, when it crossed";
  EXPECT_EQ(changes, (std::vector<std::pair<int, bool>>{{BAD, true}}));
  for (int slot = 0; slot < PHONES; ++slot) {
    EXPECT_EQ(history->Health().IsQuarantined(slot), slot == BAD) << slot;
  }
  const std::string metrics = test::ReadFile(options.metricsPath);
  EXPECT_NE(metrics.find("mirk3_phones_passed_total{station=\"Line 3\"} 175\n"),
            std::string::npos) << metrics;
  EXPECT_NE(metrics.find("mirk3_slots_flagged{station=\"Line 3\"} 1\n"), std::string::npos);

  const std::string cli = std::string(MIRK3_BIN_DIR) + "/mirk3-cli results --results-db " +
                          options.resultsDb;
  const test::ProgramRun read = test::RunProgram(cli + " --json", dir / "err");
  ASSERT_EQ(read.status, 0) << read.out << test::ReadFile(dir / "err");
  const auto report = nlohmann::json::parse(read.out);
  ASSERT_EQ(report["flagged"].size(), 1u) << read.out;
  EXPECT_EQ(report["flagged"][0]["slot"], BAD);
  EXPECT_EQ(report["flagged"][0]["station"], "Line 3");
  ASSERT_EQ(report["slots"].size(), static_cast<size_t>(PHONES));
  EXPECT_EQ(report["slots"][BAD]["phones"], RUNS);
  EXPECT_EQ(report["slots"][BAD]["passed"], 0);
  ASSERT_EQ(report["days"].size(), 1u);
  EXPECT_EQ(report["days"][0]["phones"], PHONES * RUNS) << "every record stored once";

  // The quarantine handed to the station as its start-up hands it: with each cable kept for its
  // slot, the bad cable's phone waits and the next run flashes the others only.
  history->OnQuarantineChange([&changes, &station](int slot, bool on) {
    changes.push_back({slot, on});
    station.SetSlotClosed(slot, on);
  });
  station.SetSlotClosed(BAD, history->Health().IsQuarantined(BAD));
  for (int p = 0; p < PHONES; ++p) station.Ports().ReserveSlot(p, p);
  for (int p = 0; p < PHONES; ++p) {
    if (!farm.Plugged(p)) {
      ASSERT_TRUE(farm.Plug(p));
    }
    station.Ports().PlacePort(p);
  }
  EXPECT_TRUE(station.Ports().Waiting(BAD));
  ASSERT_TRUE(station.Start());
  ASSERT_TRUE(RunEventsUntil([&] { return !station.Busy(); }));
  EXPECT_EQ(station.StartedPorts(), PHONES - 1);
  EXPECT_EQ(station.PortRuns().count(BAD), 0u) << "the quarantined slot's phone was flashed";

  const test::ProgramRun clear =
      test::RunProgram(cli + " --station 'Line 3' --clear-slot " + std::to_string(BAD),
                       dir / "err");
  ASSERT_EQ(clear.status, 0) << clear.out << test::ReadFile(dir / "err");
  ASSERT_TRUE(RunEventsUntil([&] { return !history->Health().IsQuarantined(BAD); }))
      << "the running station sees the operator's clear";
  EXPECT_EQ(changes.back(), std::make_pair(BAD, false));
  EXPECT_EQ(station.Ports().SlotOfPort(BAD), BAD) << "placed again once cleared";
  EXPECT_EQ(view.With("Slot 5 cleared").size(), 1u);
  EXPECT_TRUE(history->Finish());
}

}  // namespace
}  // namespace mirk3
