// `mirk3-cli station` beside emulated phones when its outputs fail, when it is stopped, and
// when it starts where it must not wait: a log or results file that cannot take a line, a
// reader that goes away, a bus that dies or never answers, a second signal mid-flash, and a
// second station on the same port dir.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "base/file.h"
#include "station/open_station.h"
#include "station/station_lock.h"
#include "support/devsim_process.h"
#include "support/program_run.h"
#include "support/succeeded.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

using nlohmann::json;

const std::string kCli = std::string(MIRK3_BIN_DIR) + "/mirk3-cli";
// Only against hangs: a station that deadlocks is killed and fails the test instead.
const std::string kGuard = "timeout -s KILL 300 ";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Every line of `path` parsed; a half line (or a line glued to one) fails the test.
std::vector<json> Records(const std::string& path) {
  std::vector<json> records;
  std::istringstream lines(test::ReadFile(path));
  for (std::string line; std::getline(lines, line);) {
    const json record = json::parse(line, nullptr, false);
    EXPECT_FALSE(record.is_discarded()) << "a broken line: " << line;
    if (!record.is_discarded()) records.push_back(record);
  }
  return records;
}

class StationOutputs : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(ports);
    ::setenv("MIRK3_SYSFS_ROOT", sysfs.c_str(), 1);
    test::WriteTar(package, {{"boot.img", test::TestBytes(200000, 5)}});
    test::WriteFile(ini, "[Option]\nTitle=Line 4\n");
  }

  // Starts the farm and waits until it has printed one line per port it starts with.
  void StartFarm(std::vector<std::string> args, int startingPorts) {
    std::vector<std::string> all = {"--port-dir", ports, "--sysfs", sysfs, "--protocol", "3"};
    all.insert(all.end(), args.begin(), args.end());
    ASSERT_TRUE(farm.Start(all));
    for (int i = 0; i < startingPorts; ++i) ASSERT_NE(farm.ReadLine(), "") << "farm line " << i;
  }

  std::vector<std::string> StationArgs(std::vector<std::string> more) const {
    std::vector<std::string> args = {"station",         "--ini", ini,    "--port-dir", ports,
                                     "--open-attempts", "3",     "--ap", package};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  std::string StationLine(const std::string& more) const {
    std::string line = kCli;
    for (const std::string& arg : StationArgs({})) line += " '" + arg + "'";
    return line + " " + more;
  }

  // Reads the station's log into `log` until `text` appears; false at its end.
  static bool ReadUntil(test::DevsimProcess& station, const std::string& text, std::string& log) {
    for (std::string line = station.ReadLine(); !line.empty(); line = station.ReadLine()) {
      log += line + "\n";
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  test::TempDir dir;
  std::string ports = dir / "ports";
  std::string sysfs = dir / "sys";
  std::string ini = dir / "Mirk3.ini";
  std::string package = dir / "AP_out.tar";
  std::string results = dir / "results.jsonl";
  test::DevsimProcess farm;
};

// Each output failing its own way: the run goes on, every record that can be written is, the
// failure is said once on standard error, and the exit status is 3.
TEST_F(StationOutputs, AFailingOutputIsSaidOnceAndTheRunGoesOnWithStatus3) {
  struct Case {
    const char* name;
    std::string prefill;  // the results file's content before the station starts
    std::string shell;    // run before the station, in the same shell
    std::string args;     // more of the station's command line
    std::string tail;     // after it: a pipe
    const char* said;     // on standard error, exactly once
    size_t wholeRecords;  // in the results file afterwards
  };
  const std::string logs = dir / "logs";
  const std::string padding = std::string(8000, 'x');
  const std::vector<Case> cases = {
      {"the dated log is a link to a full disk", "",
       "mkdir -p " + logs + " && ln -sf /dev/full " + logs + "/mirk3-$(date +%F).log && ",
       "--log-dir " + logs + " --results " + results, "", "cannot write to the log file", 2},
      {"the results file is a full disk", "", "", "--results /dev/full", "",
       "cannot write to the results file", 0},
      // A file size limit cuts a record short as a full disk does; the part written must go.
      {"the results file reaches the size limit", "{\"padding\":\"" + padding + "\"}\n",
       "trap '' XFSZ && ulimit -f 8 && ", "--results " + results, "",
       "cannot write to the results file", 1},
      {"standard output's reader leaves", "", "", "--results " + results, " | head -n 1 >/dev/null",
       "cannot write the log to standard output", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(logs);
    std::filesystem::remove(results);
    if (!c.prefill.empty()) test::WriteFile(results, c.prefill);
    StartFarm({"--ports", "0-1"}, 2);
    const std::string err = dir / "err";
    const test::ProgramRun run = test::RunProgram(
        "bash -c \"" + c.shell + kGuard + StationLine("--no-bus --auto 2 --runs 1 " + c.args) +
        " 2>" + err + c.tail + "; exit \\${PIPESTATUS[0]}\"");
    const std::string said = test::ReadFile(err);
    EXPECT_EQ(run.status, 3) << said << run.out;
    EXPECT_EQ(Count(said, c.said), 1u) << said;
    EXPECT_NE(said.find("the exit status will be 3"), std::string::npos) << said;
    if (c.wholeRecords > 0) {
      const std::vector<json> records = Records(results);
      EXPECT_EQ(records.size(), c.wholeRecords);
      if (records.size() == 2) {
        EXPECT_EQ(records[1]["verdict"], "PASS");
      }
    }
    farm.Terminate();
  }
}

// A second SIGTERM while both phones are mid-flash: each gets its FAIL record and log line.
TEST_F(StationOutputs, TheSecondStopRecordsEveryPhoneInFlight) {
  // Both phones stop answering once the data is sent: they stay in flight until the stop.
  StartFarm({"--ports", "0-1", "--silent", "0:12", "--silent", "1:12"}, 2);
  test::DevsimProcess station;
  ASSERT_TRUE(station.StartProgram("mirk3-cli",
                                   StationArgs({"--no-bus", "--auto", "2", "--results", results,
                                                "--first-byte-timeout-ms", "600000"}),
                                   dir / "err"));
  // Each phone's close is answered, and then nothing more: its data is all sent.
  std::set<std::string> talking;
  for (std::string line = station.ReadLine(); !line.empty() && talking.size() < 2;
       line = station.ReadLine()) {
    if (line.find("RES OK") != std::string::npos) talking.insert(line.substr(0, 10));
  }
  ASSERT_EQ(talking.size(), 2u) << test::ReadFile(dir / "err");
  ASSERT_TRUE(station.Signal(SIGTERM));
  // Two signals sent at once would be one: the second waits until the first was heard.
  for (int i = 0;
       i < 3000 && test::ReadFile(dir / "err").find("a second signal") == std::string::npos; ++i) {
    ::usleep(10000);
  }
  ASSERT_TRUE(station.Signal(SIGTERM));
  const std::string log = station.ReadToEnd();
  EXPECT_EQ(station.Wait(), 1) << test::ReadFile(dir / "err");
  EXPECT_EQ(Count(log, "stopped by the operator mid-flash"), 2u) << log;

  const std::vector<json> records = Records(results);
  ASSERT_EQ(records.size(), 2u);
  std::set<std::string> usbPaths;
  for (const json& r : records) {
    EXPECT_EQ(r["verdict"], "FAIL");
    EXPECT_EQ(r["message"], "stopped by the operator mid-flash");
    EXPECT_GT(r["bytes"].get<int64_t>(), 0) << "the bytes sent so far";
    usbPaths.insert(r["usb_path"].get<std::string>() + " port " +
                    std::to_string(r["port"].get<int>()));
  }
  EXPECT_EQ(usbPaths, (std::set<std::string>{"1-1.1 port 0", "1-1.2 port 1"}));
}

// A Unix socket that takes connections and never says a word, as the session bus.
class SilentBus {
 public:
  explicit SilentBus(const std::string& path) : path_(path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    fd_.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ok_ = ::bind(fd_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
          ::listen(fd_.Get(), 16) == 0;
  }
  bool Ok() const { return ok_; }
  std::string Address() const { return "unix:path=" + path_; }

 private:
  std::string path_;
  UniqueFd fd_;
  bool ok_ = false;
};

// A bus that never answers is given up after 5 s (status 2, as any bus that cannot be
// reached), and a stop signal during that wait ends the station at once, before any run.
TEST_F(StationOutputs, ASilentBusNeitherHoldsTheStationNorItsStopSignals) {
  const SilentBus bus(dir / "silent-bus");
  ASSERT_TRUE(bus.Ok());
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
  const std::string lock = LockFileFor(ports);
  for (const int signal : {0, SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(signal);
    test::DevsimProcess station;
    ASSERT_TRUE(station.StartProgram("mirk3-cli", StationArgs({"--auto", "2"}), dir / "err"));
    if (signal != 0) {
      // The port dir is locked just before the bus is joined.
      for (int i = 0; i < 2000 && test::ReadFile(lock).empty(); ++i) ::usleep(10000);
      ASSERT_TRUE(station.Signal(signal));
    }
    const std::string said = test::ReadFile(dir / "err");
    EXPECT_EQ(station.Wait(), signal == 0 ? 2 : 0) << test::ReadFile(dir / "err");
    if (signal == 0) {
      EXPECT_NE(test::ReadFile(dir / "err").find("does not answer within 5 s"), std::string::npos);
    }
  }
  // doctor says the same and then ends.
  const test::ProgramRun doctor = test::RunProgram(kGuard + kCli + " doctor --port-dir " + ports);
  EXPECT_NE(doctor.status, 137) << doctor.out;
  EXPECT_NE(doctor.out.find("does not answer within 5 s"), std::string::npos) << doctor.out;
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

// One station per port dir; `flash` locks the ports it was given.
TEST_F(StationOutputs, ASecondStationOnThePortDirIsRefusedNamingTheFirst) {
  test::DevsimProcess first;
  ASSERT_TRUE(first.StartProgram("mirk3-cli", StationArgs({"--no-bus", "--auto", "2"})));
  const std::string lock = LockFileFor(ports);
  for (int i = 0; i < 2000 && test::ReadFile(lock).empty(); ++i) ::usleep(10000);
  ASSERT_EQ(test::ReadFile(lock), std::to_string(first.Pid()) + "\n");

  const test::ProgramRun second =
      test::RunProgram(kGuard + StationLine("--no-bus --auto 2"), dir / "err");
  EXPECT_EQ(second.status, 2);
  const std::string said = test::ReadFile(dir / "err");
  EXPECT_NE(said.find("the port dir " + ports), std::string::npos) << said;
  EXPECT_NE(said.find("(pid " + std::to_string(first.Pid()) + ")"), std::string::npos) << said;
  EXPECT_EQ(first.Terminate(), 0) << "stopped before its first run";

  const auto held = LockPort(ports, 3);
  ASSERT_TRUE(test::Succeeded(held));
  const test::ProgramRun flash = test::RunProgram(
      kGuard + kCli + " flash --port-dir " + ports + " --port 3 --ap " + package, dir / "err");
  EXPECT_EQ(flash.status, 2);
  EXPECT_NE(test::ReadFile(dir / "err").find("ttyACM3 in " + ports + " is in use"),
            std::string::npos)
      << test::ReadFile(dir / "err");
}

// A dbus-daemon of the test's own, killed in the middle of the station's life.
class OwnBus {
 public:
  OwnBus() {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address", nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    char text[512];
    const ssize_t n = ::read(out[0], text, sizeof text - 1);
    ::close(out[0]);
    if (n > 0) address_.assign(text, static_cast<size_t>(n));
    while (!address_.empty() && address_.back() == '\n') address_.pop_back();
  }
  ~OwnBus() { Kill(); }
  const std::string& Address() const { return address_; }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  std::string address_;
};

TEST_F(StationOutputs, ABusThatDiesMidRunIsSaidOnceAndCountsAsALostOutput) {
  OwnBus bus;
  ASSERT_FALSE(bus.Address().empty());
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
  StartFarm({"--ports", "0"}, 1);
  test::DevsimProcess station;
  ASSERT_TRUE(station.StartProgram(
      "mirk3-cli", StationArgs({"--auto", "1", "--runs", "3", "--results", results}), dir / "err"));
  std::string log;
  ASSERT_TRUE(ReadUntil(station, "All threads completed", log)) << test::ReadFile(dir / "err");
  bus.Kill();
  for (const char* command : {"plug 1", "plug 2"}) {
    ASSERT_TRUE(farm.Send(command));
    ASSERT_TRUE(ReadUntil(station, "All threads completed", log)) << test::ReadFile(dir / "err");
  }
  log += station.ReadToEnd();
  EXPECT_EQ(station.Wait(), 3);
  const std::string said = test::ReadFile(dir / "err");
  EXPECT_EQ(Count(said, "the station goes on without the companion bus"), 1u) << said;
  EXPECT_NE(log.find("<OSM> Output failed: "), std::string::npos) << log;
  EXPECT_EQ(Records(results).size(), 3u);
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace
}  // namespace mirk3
