// The companion interface on a private bus of each test's own: dbus-send asks for runs and
// dbus-monitor hears the results, as a companion program beside the station would.
#include "station/companion_bus.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "station/qt_report_sink.h"
#include "station/station.h"
#include "station/station_wiring.h"
#include "devsim/phone_farm.h"
#include "support/station_harness.h"
#include "support/succeeded.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

constexpr int kGuardMs = 20000;  // only against hangs
constexpr int kGraceMs = 300;    // lets a wrong request that came late be counted too

// Runs Qt's events until `done` holds or the guard runs out.
bool RunUntil(const std::function<bool()>& done, int ms = kGuardMs) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return done();
}

// The one application object of the test program, made by whichever test needs it first and
// kept to the end of the process, as the station keeps its own.
class WithQt : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "test_station";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  }
};

// A session bus of the test's own; DBUS_SESSION_BUS_ADDRESS points at it for the station and
// for the companions started as children.
class CompanionBusTest : public WithQt {
 protected:
  void SetUp() override {
    daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(daemon_.waitForStarted(kGuardMs));
    ASSERT_TRUE(RunUntil([&] { return daemon_.canReadLine(); })) << "no bus address";
    const QByteArray address = daemon_.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    ASSERT_TRUE(test::Succeeded(bus_.Connect(false)));
    QObject::connect(&bus_, &CompanionBus::startRequested, [&] { ++starts_; });
  }

  void TearDown() override {
    daemon_.kill();
    daemon_.waitForFinished(kGuardMs);
  }

  static void Send(int wParam, int lParam) {
    SendArguments({QStringLiteral("int32:%1").arg(wParam), QStringLiteral("int32:%1").arg(lParam)});
  }
  static void SendArguments(const QStringList& arguments) {
    const int status = QProcess::execute(
        "dbus-send", QStringList{"--session", "--type=signal", "/org/mirk3/Station",
                                 "org.mirk3.Station.MergeRadMDL"} + arguments);
    ASSERT_EQ(status, 0) << "dbus-send " << arguments.join(' ').toStdString();
  }

  // Sends a request that must start a run and waits for it, then a little longer: every
  // message sent before it has been handled by then.
  void SendRunRequestAndSettle() {
    Send(0, 2);
    const int before = starts_;
    ASSERT_TRUE(RunUntil([&] { return starts_ > before; }));
    RunUntil([] { return false; }, kGraceMs);
  }

  QProcess daemon_;
  CompanionBus bus_;
  int starts_ = 0;
};

TEST_F(CompanionBusTest, OnlyZeroToEightWithTwoAskForARunAndEachAsksOnce) {
  ASSERT_TRUE(test::Succeeded(bus_.Connect(false)));  // again: must not listen twice
  for (const auto& [wParam, lParam] :
       std::vector<std::pair<int, int>>{{9, 2}, {0, 1}, {-1, 2}, {0, 99}, {8, -1}}) {
    Send(wParam, lParam);
  }
  // A request is exactly two int32 arguments: more, or others, are not one.
  SendArguments({"int32:0", "int32:2", "int32:0"});
  SendArguments({"int32:0", "int32:2", "string:x"});
  SendArguments({"int32:0"});
  SendRunRequestAndSettle();
  EXPECT_EQ(starts_, 1);

  Send(8, 2);
  ASSERT_TRUE(RunUntil([&] { return starts_ == 2; }));
}

// Each MergeRadMDL signal dbus-monitor printed, as its two arguments.
std::vector<std::pair<int, int>> Heard(const QString& monitorOutput) {
  static const QRegularExpression signal(
      "member=MergeRadMDL\\n\\s*int32 (-?\\d+)\\n\\s*int32 (-?\\d+)");
  std::vector<std::pair<int, int>> heard;
  for (auto it = signal.globalMatch(monitorOutput); it.hasNext();) {
    const auto match = it.next();
    heard.emplace_back(match.captured(1).toInt(), match.captured(2).toInt());
  }
  return heard;
}

// dbus-monitor watching the station's interface, as a companion would, and what it printed.
class Monitor {
 public:
  Monitor() {
    process_.start("dbus-monitor", {"--session", "type='signal',interface='org.mirk3.Station'"});
  }
  ~Monitor() { Stop(); }
  // Reads what it prints until `done` holds or the guard runs out.
  bool WaitFor(const std::function<bool()>& done) {
    return RunUntil([&] {
      output += QString::fromUtf8(process_.readAllStandardOutput());
      return done();
    });
  }
  // The bus tells a new monitor it lost its name once it is watching; a signal sent before
  // that could pass it by.
  bool Watching() { return WaitFor([&] { return output.contains("member=NameLost"); }); }
  void Stop() {
    process_.kill();
    process_.waitForFinished(kGuardMs);
  }
  QString output;

 private:
  QProcess process_;
};

TEST_F(CompanionBusTest, CompanionsHearEachResultAndTheStationDoesNotTakeItForARequest) {
  Monitor monitor;
  ASSERT_TRUE(monitor.Watching()) << "no monitor";
  const QString& output = monitor.output;
  auto waitFor = [&](const std::function<bool()>& done) { return monitor.WaitFor(done); };

  EXPECT_TRUE(test::Succeeded(bus_.Broadcast(3, CompanionBus::kPassed)));
  EXPECT_TRUE(test::Succeeded(bus_.Broadcast(4, CompanionBus::kFailed)));
  EXPECT_TRUE(bus_.Broadcast(5, 2));  // not a result: never sent
  ASSERT_TRUE(waitFor([&] { return Heard(output).size() >= 2; })) << output.toStdString();
  SendRunRequestAndSettle();
  waitFor([&] { return Heard(output).size() >= 3; });
  monitor.Stop();

  const std::vector<std::pair<int, int>> expected = {{3, 1}, {4, -1}, {0, 2}};
  EXPECT_EQ(Heard(output), expected) << output.toStdString();
  EXPECT_EQ(starts_, 1);
}

using CompanionBusWithoutBus = WithQt;

TEST_F(CompanionBusWithoutBus, ABusThatCannotBeReachedGivesTheSystemsText) {
  test::TempDir dir;
  qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray("unix:path=") + (dir / "no-bus").c_str());
  CompanionBus bus;
  const Status joined = bus.Connect(false);
  EXPECT_FALSE(joined);
  const std::string& error = joined.error().text;
  const std::string text = CompanionBus::kRegistrationFailed;
  EXPECT_EQ(error.rfind(text + " ", 0), 0u) << error;
  EXPECT_GT(error.size(), text.size() + 1) << "what D-Bus said is missing";
  EXPECT_TRUE(bus.Broadcast(1, CompanionBus::kPassed));  // without a bus: a no-op, not a crash
}

}  // namespace
}  // namespace mirk3

namespace mirk3 {
namespace {

class LogView : public StationView {
 public:
  void AppendLog(const std::string& line) override { log.push_back(line); }
  void ShowMessage(const std::string&, const std::string&) override {}
  std::vector<std::string> log;
};

// The station joined to its companion: (9, 2) and (0, 1) start nothing, (0, 2) starts a run
// exactly as Start does, and the companion hears (port, 1) for the phone that passed and
// (port, -1) for the one that failed.
TEST_F(CompanionBusTest, ARequestStartsTheStationsRunAndEveryResultIsHeard) {
  test::TempDir dir;
  devsim::FarmConfig config;
  config.portDir = dir / "ports";
  config.protocol = 3;
  config.ports = {3, 4};
  config.faults[4].handshakeAnswer = "TASX";
  std::filesystem::create_directories(config.portDir);
  devsim::PhoneFarm farm(config);
  ASSERT_TRUE(farm.Start());
  EngineContext context;
  context.timing = test::QuickTiming();
  context.portDir = config.portDir;
  LogView view;
  Station* station = nullptr;
  QtReportSink sink([&](const PortEvent& e) { station->HandleEvent(e); });
  Station owned(&view, &sink, context);
  station = &owned;
  OutputHealth health("test");
  AttachCompanion(owned, bus_, health);
  test::WriteTar(dir / "AP_x.tar", {{"boot.img", "boot"}});
  owned.PickPackage(AP, dir / "AP_x.tar");
  // With no phone in a slot a request starts nothing: an empty run would count as one.
  SendRunRequestAndSettle();
  EXPECT_EQ(owned.Runs(), 0);
  EXPECT_EQ(view.log.back(),
            "<OSM> Start refused: the companion asked for a run, and no phone is in a slot");
  for (int port : config.ports) owned.Ports().PlacePort(port);

  Monitor monitor;
  ASSERT_TRUE(monitor.Watching()) << "no monitor";
  const QString& output = monitor.output;
  auto waitFor = [&](const std::function<bool()>& done) { return monitor.WaitFor(done); };
  Send(9, 2);
  Send(0, 1);
  SendRunRequestAndSettle();
  EXPECT_EQ(owned.Runs(), 1) << "only (0, 2) started a run";
  ASSERT_TRUE(RunUntil([&] { return !owned.Busy(); }));
  ASSERT_TRUE(waitFor([&] { return Heard(output).size() >= 5; })) << output.toStdString();
  monitor.Stop();

  auto heard = Heard(output);
  const std::vector<std::pair<int, int>> requests = {{9, 2}, {0, 1}, {0, 2}};
  ASSERT_EQ(std::vector(heard.begin(), heard.begin() + 3), requests);
  std::sort(heard.begin() + 3, heard.end());
  const std::vector<std::pair<int, int>> results = {{3, 1}, {4, -1}};
  EXPECT_EQ(std::vector(heard.begin() + 3, heard.end()), results);
  EXPECT_EQ(owned.Succeeded(), 1);
  EXPECT_EQ(owned.Failed(), 1);
  EXPECT_FALSE(health.AnyLost()) << health.Summary();
}

}  // namespace
}  // namespace mirk3
