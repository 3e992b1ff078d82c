// The device-info session end to end: the station's engine against emulated phones over real
// pseudo-terminals, from the greeting to close and reboot.
#include <gtest/gtest.h>

#include <thread>

#include "cli/cli_flash.h"
#include "devsim/phone_farm.h"
#include "engine/failure_kind.h"
#include "packages/meta_data_results.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

using namespace std::chrono_literals;
using test::RunResult;
using Lines = std::vector<std::string>;

class DeviceInfoSession : public ::testing::Test {
 protected:
  devsim::FarmConfig Farm(std::vector<int> ports, int protocol = 4) {
    devsim::FarmConfig config;
    config.portDir = dir.Path() / "ports";
    config.ports = std::move(ports);
    config.protocol = protocol;
    return config;
  }

  void StartFarm(const devsim::FarmConfig& config) {
    std::filesystem::create_directories(config.portDir);
    farm = std::make_unique<devsim::PhoneFarm>(config);
    std::string error;
    ASSERT_TRUE(farm->Start(&error)) << error;
  }

  // A device-info run with one signed AP package for `model`.
  DownloadOptions Options(const std::string& model = "MIRK3-DEMO_EUR") {
    const std::string package = dir / ("AP_" + model + ".tar");
    test::WriteSignedPackage(package, {{"boot.img", test::TestBytes(3000, 1)}}, model);
    DownloadOptions options = DefaultRunOptions();
    options.deviceInfo = 1;
    options.slotEnabled[AP] = 1;
    options.slotPath[AP] = package;
    return options;
  }

  EngineContext Context() {
    EngineContext context;
    context.timing = test::QuickTiming();
    context.portDir = dir.Path() / "ports";
    return context;
  }

  RunResult Run(const std::vector<int>& ports, const DownloadOptions& options) {
    return test::RunStation(ports, options, Context());
  }

  // The requests a phone received, as "type/sub w0 w1 ...", cut to `words` words.
  Lines Requests(int port, size_t words = 0) {
    Lines out;
    for (const auto& line : farm->Trace(port)) {
      std::istringstream in(line);
      std::string item, cut;
      in >> cut;
      for (size_t i = 0; i < words && in >> item; ++i) cut += " " + item;
      out.push_back(cut);
    }
    return out;
  }

  test::TempDir dir;
  std::unique_ptr<devsim::PhoneFarm> farm;
};

TEST_F(DeviceInfoSession, Protocol3SkipsTheDeviceInfoExchangeAndPasses) {
  StartFarm(Farm({0}, 3));
  const RunResult result = Run({0}, Options());
  ASSERT_TRUE(result.ended);
  EXPECT_EQ(result.succeeded, 1);
  EXPECT_EQ(result.PortLines(0),
            (Lines{"Added!!", "Mirk engine v(ID:3.1203)..", "SetupConnection..", "Initialzation..",
                   "RQT_CLOSE !!", "RES OK !!", "Remain Port ....  0 "}));
  EXPECT_EQ(Requests(0, 1), (Lines{"100/0 4", "100/5 1048576", "103/0 0", "103/1 0"}));
  EXPECT_EQ(result.log.back(), "<OSM> All threads completed. (succeed 1 / failed 0)");
  EXPECT_FALSE(farm->Plugged(0)) << "the phone reboots and its port disappears";
  EXPECT_EQ(result.records.at(0).model, "") << "a phone that was not asked has no model";
}

TEST_F(DeviceInfoSession, Protocol4ReadsTheRecordInPiecesAndComparesTheModel) {
  StartFarm(Farm({0}));
  const RunResult result = Run({0}, Options());
  EXPECT_EQ(result.succeeded, 1) << ::testing::PrintToString(result.log);
  const Lines requests = Requests(0, 1);
  const auto begin = std::find(requests.begin(), requests.end(), "105/0 0");
  ASSERT_NE(begin, requests.end());
  EXPECT_EQ(*(begin + 1), "105/1 0");
  const auto end = std::find(begin, requests.end(), "105/2 0");
  ASSERT_NE(end, requests.end());
  for (auto it = begin + 1; it != end; ++it) {
    EXPECT_EQ(*it, "105/1 " + std::to_string(it - begin - 1)) << "pieces in order";
  }
  EXPECT_EQ(*(end + 1), "103/0 0");
  // What the phone said of itself stays with its record.
  EXPECT_EQ(result.records.at(0).model, devsim::DEFAULT_MODEL);
  EXPECT_NE(std::find(result.records.at(0).deviceItems.begin(),
                      result.records.at(0).deviceItems.end(), devsim::DEFAULT_MODEL),
            result.records.at(0).deviceItems.end());
}

TEST_F(DeviceInfoSession, RequestOrderFollowsTheOptions) {
  struct Case {
    int protocol;
    bool lock, erase, tflash, reboot;
    Lines expected;
  };
  const std::vector<Case> cases = {
      {1, false, false, false, false, {"100/0 4", "103/0 0"}},
      {2, false, false, false, true, {"100/0 4", "100/5 1048576", "103/0 0", "103/1 0"}},
      {3,
       true,
       true,
       true,
       false,
       {"100/0 4", "100/5 1048576", "100/3 1", "100/7 0", "100/8 0", "103/0 0"}},
      {3, false, true, false, false, {"100/0 4", "100/5 1048576", "100/7 0", "103/0 0"}},
      // The phone's identity is proven before it is locked, erased or T-flashed.
      {4,
       true,
       true,
       true,
       false,
       {"100/0 4", "100/5 1048576", "105/0 0", "105/1 0", "105/2 0", "100/3 1", "100/7 0",
        "100/8 0", "103/0 0"}},
  };
  int port = 0;
  for (const auto& c : cases) {
    StartFarm(Farm({port}, c.protocol));
    DownloadOptions options = Options();
    options.FlashLock = c.lock;
    options.NandErase = c.erase;
    options.TFlash = c.tflash;
    options.AutoReboot = c.reboot;
    const RunResult result = Run({port}, options);
    EXPECT_EQ(result.succeeded, 1);
    EXPECT_EQ(Requests(port, 1), c.expected) << "protocol " << c.protocol;
    for (const auto& r : Requests(port)) EXPECT_NE(r.rfind("100/2", 0), 0u) << "no total size";
    EXPECT_EQ(result.Contains(port, "Send lock information.."), c.lock);
    EXPECT_EQ(result.Contains(port, "Erase..."), c.erase);
    EXPECT_EQ(result.Contains(port, "T Flash..."), c.tflash);
    ++port;
  }
}

TEST_F(DeviceInfoSession, PacketSizeNegotiation) {
  const std::vector<std::pair<int32_t, std::string>> cases = {
      {131071, "100/5 1048576"}, {131072, "100/5 131072"}, {4194304, "100/5 4194304"},
      {0, "100/5 1048576"},      {-5, "100/5 1048576"},    {200000, "100/5 131072"},
      {1100000, "100/5 1048576"}};
  int port = 0;
  for (const auto& [requested, expected] : cases) {
    StartFarm(Farm({port}, 3));
    DownloadOptions options = Options();
    options.PacketSize = requested;
    Run({port}, options);
    EXPECT_EQ(Requests(port, 1).at(1), expected) << requested;
    ++port;
  }
}

TEST_F(DeviceInfoSession, ResetDelayFollowsFResetTime) {
  EngineContext context = Context();
  context.timing.resetDelayUnit = 300ms;
  auto pause = [&](int port, int32_t fResetTime) {
    StartFarm(Farm({port}, 3));
    DownloadOptions options = Options();
    options.FResetTime = fResetTime;
    options.FactoryResetTime = 5;
    const auto start = std::chrono::steady_clock::now();
    const RunResult result = test::RunStation({port}, options, context);
    EXPECT_EQ(result.succeeded, 1);
    return std::chrono::steady_clock::now() - start;
  };
  EXPECT_GE(pause(0, 1), 1500ms) << "five units with F. Reset Time on";
  EXPECT_LT(pause(1, 0), 1500ms) << "one unit with it off, whatever FactoryResetTime says";
}

struct FailureCase {
  const char* name;
  std::function<void(devsim::FarmConfig&, DownloadOptions&, EngineContext&)> setUp;
  Lines failReports;                  // "text|code" of every failure report, in order
  std::vector<std::string> logLines;  // log lines that must appear
  FailureKind kind = FailureKind::Lasting;  // whether another attempt on the cable may pass
};

FailureKind KindOfRecord(const PortRun& record) {
  return KindOf(mirk3::Failed{record.code, record.message, record.failedStep, record.cause});
}

TEST_F(DeviceInfoSession, EveryFailureIsReportedWithItsCode) {
  using devsim::FailRule;
  const std::vector<FailureCase> cases = {
      {"port never opens",
       [](auto& sim, auto&, auto&) { sim.ports = {}; },
       {"Can't open the serial port.|0"},
       {},
       FailureKind::Transient},
      {"wrong greeting",
       [](auto& sim, auto&, auto&) { sim.faults[0].handshakeAnswer = "TASX"; },
       {"FAIL! The phone answered the greeting with 54 41 53 58, not TASH|2"},
       {}},
      {"zero greeting",
       [](auto& sim, auto&, auto&) { sim.faults[0].handshakeAnswer = std::string(4, '\0'); },
       {"FAIL! The phone answered the greeting with 00 00 00 00, not TASH|2"},
       {}},
      {"silent device",
       [](auto& sim, auto&, auto& context) {
         sim.faults[0].silentAfter = devsim::SILENT_FROM_START;
         context.timing.firstByteTimeout = 300ms;
       },
       {"Complete(Write) operation failed.|2"},
       {"The phone did not answer within 300 ms"},
       FailureKind::Transient},
      {"lock refused",
       [](auto& sim, auto& options, auto&) {
         options.FlashLock = 1;
         sim.faults[0].fails.push_back(FailRule{100, 3, -1, 0});
       },
       {"Rqt ID: 100 Fail. (Res: 0xFFFFFFFF)|99", "Lock operation failed.|8"},
       {}},
      {"erase refused",
       [](auto& sim, auto& options, auto&) {
         options.NandErase = 1;
         sim.faults[0].fails.push_back(FailRule{100, 7, -3, 0});
       },
       {"Rqt ID: 100 Fail. (Res: 0xFFFFFFFF)|99", "Complete(Write) operation failed.|9"},
       {}},
      {"T flash refused",
       [](auto& sim, auto& options, auto&) {
         options.TFlash = 1;
         sim.faults[0].fails.push_back(FailRule{100, 8, -1, 0});
       },
       {"Rqt ID: 100 Fail. (Res: 0xFFFFFFFF)|99", "Complete(Write) operation failed.|10"},
       {}},
      {"close refused",
       [](auto& sim, auto&, auto&) {
         sim.faults[0].fails.push_back(FailRule{103, 0, -1, 0});
       },
       {"Rqt ID: 103 Fail. (Res: 0xFFFFFFFF)|99", "Complete(Write) operation failed.|2"},
       {}},
      {"RTN refused",
       [](auto& sim, auto& options, auto&) {
         options.rtnForSprint = 1;
         sim.faults[0].fails.push_back(FailRule{100, 10, -1, 0});
       },
       {"Rqt ID: 100 Fail. (Res: 0xFFFFFFFF)|99", "Complete(Write) operation failed.|13"},
       {"RTN for Sprint"}},
      {"device info of 700 bytes",
       [](auto& sim, auto&, auto&) { sim.faults[0].deviceInfoSize = 700; },
       {"FAIL! (DeviceInfo)|12"},
       {}},
      {"device info of 0 bytes",
       [](auto& sim, auto&, auto&) { sim.faults[0].deviceInfoSize = 0; },
       {"FAIL! (DeviceInfo)|12"},
       {}},
      {"device info refused",
       [](auto& sim, auto&, auto&) {
         sim.faults[0].fails.push_back(FailRule{105, 0, -1, 0});
       },
       {"Rqt ID: 105 Fail. (Res: 0xFFFFFFFF)|99", "FAIL! (DeviceInfo)|12"},
       {}},
      {"wrong magic",
       [](auto& sim, auto&, auto&) { sim.faults[0].deviceInfoMagic = 0x12345679; },
       {"Invalid Data : 12345679|12"},
       {}},
      {"model mismatch",
       [](auto& sim, auto&, auto&) { sim.faults[0].model = "MIRK3-DEM0"; },
       {"FAIL! Model dismatch fail|12"},
       {"The packages are for model \"MIRK3-DEMO\"; the phone is model \"MIRK3-DEM0\""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir caseDir;
    devsim::FarmConfig config = Farm({0});
    config.portDir = caseDir.Path();
    DownloadOptions options = Options();
    EngineContext context = Context();
    context.portDir = caseDir.Path();
    c.setUp(config, options, context);
    devsim::PhoneFarm phones(config);
    if (!config.ports.empty()) {
      ASSERT_TRUE(phones.Start());
    }
    const RunResult result = test::RunStation({0}, options, context);
    EXPECT_EQ(result.failed, 1);
    EXPECT_EQ(result.succeeded, 0);
    const auto failures = result.failures.find(0);
    EXPECT_EQ(failures == result.failures.end() ? Lines{} : failures->second, c.failReports)
        << ::testing::PrintToString(result.log);
    for (const auto& line : c.logLines) EXPECT_TRUE(result.Contains(0, line)) << line;
    EXPECT_FALSE(result.Contains(0, "Completed..")) << "a failed port never passes";
    EXPECT_EQ(result.lastState.at(0), Verdict::Failed) << "every failed port shows FAIL";
    // The port's verdict is its first refusal, with the line's state when it gave up.
    const PortRun& record = result.records.at(0);
    EXPECT_EQ(record.message + "|" + std::to_string(record.code), c.failReports.front());
    EXPECT_EQ(record.cause == LineError::TimedOut, c.name == std::string("silent device"));
    EXPECT_EQ(KindOfRecord(record), c.kind);
    if (c.name == std::string("model mismatch")) {
      EXPECT_EQ(record.model, "MIRK3-DEM0");
    }
  }
}

// A phone of another model, or one checked against packages that did not verify, is refused
// before anything could change it: no lock, no erase, no T flash, in either sequence.
TEST_F(DeviceInfoSession, NothingDestructiveReachesARefusedPhone) {
  const std::string unsigned_ = dir / "unsigned.tar";
  test::WriteTar(unsigned_, {{"boot.img", "x"}});
  struct Case {
    const char* name;
    std::string model;  // the phone's
    bool signedPackage;
    bool fullSequence;
    const char* failure;
  };
  const Case cases[] = {
      {"other model", "SM-OTHER", true, false, "FAIL! Model dismatch fail|12"},
      {"other model, full", "SM-OTHER", true, true, "FAIL! Model dismatch fail|12"},
      {"unsigned", "MIRK3-DEMO", false, false, "FAIL! SHA256 is invalid|12"},
      {"unsigned, full", "MIRK3-DEMO", false, true, "FAIL! SHA256 is invalid|12"},
  };
  int port = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    devsim::FarmConfig config = Farm({port});
    config.faults[port].model = c.model;
    StartFarm(config);
    DownloadOptions options = Options();
    options.deviceInfo = c.fullSequence ? 0 : 1;
    options.FlashLock = options.NandErase = options.TFlash = 1;
    if (!c.signedPackage) options.slotPath[AP] = unsigned_;
    const RunResult result = Run({port}, options);
    EXPECT_EQ(result.failed, 1);
    EXPECT_EQ(result.failures.at(port), Lines{c.failure});
    if (!c.signedPackage) {
      // After the system's text, the line that says which package and why.
      const Lines lines = result.PortLines(port);
      const auto failed = std::find(lines.begin(), lines.end(), "FAIL! SHA256 is invalid");
      ASSERT_NE(failed, lines.end());
      ASSERT_NE(failed + 1, lines.end());
      EXPECT_EQ((failed + 1)->rfind("unsigned.tar: no content list", 0), 0u) << *(failed + 1);
    }
    const Lines requests = Requests(port, 0);
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "105/2"), 1) << "the check ran";
    for (const auto& r : requests) {
      EXPECT_TRUE(r != "100/3" && r != "100/7" && r != "100/8" && r.rfind("101/", 0) != 0 &&
                  r.rfind("102/", 0) != 0)
          << r << " reached a refused phone";
    }
    ++port;
  }
}

TEST_F(DeviceInfoSession, PackagesThatDoNotVerifyFailEveryDevice) {
  StartFarm(Farm({0, 1}));
  // An unsigned package, and a run that names no package at all.
  const std::string plain = dir / "plain.tar";
  test::WriteTar(plain, {{"boot.img", "x"}});
  DownloadOptions unsigned_ = Options();
  unsigned_.slotPath[AP] = plain;
  DownloadOptions none = Options();
  none.slotEnabled[AP] = 0;
  for (const auto& options : {unsigned_, none}) {
    const int port = options.slotEnabled[AP] ? 0 : 1;
    const RunResult result = Run({port}, options);
    EXPECT_EQ(result.failed, 1);
    EXPECT_TRUE(result.Contains(port, "FAIL! SHA256 is invalid")) << port;
  }
}

// The workers of one run share a package's verdict: it is checked once for all phones, and
// checked again in a later run when the file has changed, whose phones then each fail alone.
TEST_F(DeviceInfoSession, ARunChecksAPackageOnceAndAChangedPackageAgain) {
  const DownloadOptions options = Options();
  EngineContext context = Context();
  const auto results = std::make_shared<MetaDataResults>();
  context.metaDataResults = results;
  StartFarm(Farm({0, 1, 2, 3}));
  RunResult result = test::RunStation({0, 1, 2, 3}, options, context);
  EXPECT_EQ(result.succeeded, 4) << ::testing::PrintToString(result.log);
  EXPECT_EQ(results->ChecksRun(), 1);

  // The first member's data changed in place: same file, same size, a new modification time.
  test::SpoilInPlace(options.slotPath[AP], 512 + 100);
  StartFarm(Farm({4, 5, 6, 7}));
  result = test::RunStation({4, 5, 6, 7}, options, context);
  EXPECT_EQ(results->ChecksRun(), 2);
  EXPECT_EQ(result.failed, 4);
  for (int port = 4; port < 8; ++port) {
    EXPECT_TRUE(result.Contains(port, "FAIL! SHA256 is invalid")) << port;
  }
}

TEST_F(DeviceInfoSession, ARemovedDeviceFailsItsPortPromptly) {
  devsim::FarmConfig config = Farm({0});
  config.faults[0].eraseMs = 60000;  // the phone is busy erasing when it is unplugged
  StartFarm(config);
  DownloadOptions options = Options();
  options.NandErase = 1;
  std::thread unplug([&] {
    const auto erasing = [&] {
      const auto trace = farm->Trace(0);
      return std::any_of(trace.begin(), trace.end(),
                         [](const std::string& line) { return line.rfind("100/7", 0) == 0; });
    };
    while (!erasing()) std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(50ms);
    farm->Stop();
  });
  const auto start = std::chrono::steady_clock::now();
  const RunResult result = Run({0}, options);
  unplug.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << "no wait for the erase to end";
  EXPECT_EQ(result.failed, 1);
  EXPECT_EQ(result.failures.at(0).back(), "Complete(Write) operation failed.|9");
  EXPECT_EQ(result.PortLines(0).back(), "The phone was disconnected") << "after the failure texts";
  EXPECT_EQ(result.records.at(0).cause, LineError::Removed);
  EXPECT_EQ(KindOfRecord(result.records.at(0)), FailureKind::Transient) << "a cable may come back";
}

// A port without a phone is waited for in view of the operator, and its failure says what the
// station found at the port's path.
TEST_F(DeviceInfoSession, AnAbsentPhoneIsWaitedForAndNamed) {
  std::filesystem::create_directories(dir.Path() / "ports");
  const RunResult result = Run({5}, Options());
  EXPECT_EQ(result.failures.at(5), Lines{"Can't open the serial port.|0"});
  const std::string path = (dir.Path() / "ports" / "ttyACM5").string();
  EXPECT_TRUE(result.Contains(5, path + ": no such port (is the phone connected and in download "
                                        "mode?)"))
      << ::testing::PrintToString(result.PortLines(5));
  EXPECT_EQ(result.progress.at(5), (Lines{"waiting for ttyACM5 (1/3)", "waiting for ttyACM5 (2/3)",
                                          "waiting for ttyACM5 (3/3)"}));
}

TEST_F(DeviceInfoSession, OneFailingPortDoesNotDisturbTheOthers) {
  devsim::FarmConfig config = Farm({0, 1, 2});
  config.faults[1].model = "OTHER-MODEL";
  StartFarm(config);
  const RunResult result = Run({0, 1, 2}, Options());
  EXPECT_EQ(result.succeeded, 2);
  EXPECT_EQ(result.failed, 1);
  EXPECT_TRUE(result.Contains(0, "RES OK !!"));
  EXPECT_TRUE(result.Contains(1, "FAIL! Model dismatch fail"));
  EXPECT_TRUE(result.Contains(2, "RES OK !!"));
  EXPECT_EQ(result.lastState.at(0), Verdict::Passed);
  EXPECT_EQ(result.lastState.at(2), Verdict::Passed);
  EXPECT_EQ(result.log.back(), "<OSM> All threads completed. (succeed 2 / failed 1)");
}

}  // namespace
}  // namespace mirk3
