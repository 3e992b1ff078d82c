// The results records: what a line holds once parsed back, whole lines when two writers append
// to one file, and the errors a station reports instead of losing records silently.
#include "station/results_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/succeeded.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;

std::vector<json> ReadRecords(const std::string& path) {
  std::vector<json> records;
  std::istringstream lines(test::ReadFile(path));
  for (std::string line; std::getline(lines, line);) {
    records.push_back(json::parse(line));  // throws, and fails the test, on a broken line
  }
  return records;
}

PortRun Finished(int port, Verdict verdict) {
  PortRun p;
  p.run = 2;
  p.slot = port - 1;
  p.port = port;
  p.verdict = verdict;
  p.started = std::chrono::steady_clock::time_point{} + std::chrono::seconds(50);
  p.ended = p.started + milliseconds(83250);
  p.startedUtc = std::chrono::system_clock::from_time_t(1800000000) + milliseconds(123);
  p.endedUtc = p.startedUtc + milliseconds(83250);
  return p;
}

TEST(ResultsFile, RecordsParseBackWithTheirValues) {
  test::TempDir dir;
  const std::vector<RunPackage> packages = {{"BL", "/fw/BL_X100.tar.md5", 4096},
                                            {"AP", "/fw/AP_X100.tar", 6000000000}};
  PortRun failed = Finished(7, Verdict::Failed);
  failed.usbPath = "1-1.3";
  failed.code = 17;
  failed.message = "device removed \xFF";  // not UTF-8: still one whole record
  failed.sent = 1048576;
  failed.total = 6000004096;
  failed.model = "X100";  // a phone that told its device-info record
  failed.deviceItems = {"X100", "eMMC"};
  PortRun passed = Finished(12, Verdict::Passed);  // a pseudo-terminal: no USB path
  passed.sent = passed.total = 6000004096;
  PortRun running = Finished(13, Verdict::Running);

  ResultsFile file;
  ASSERT_TRUE(test::Succeeded(file.Open(dir / "results.jsonl")));
  ASSERT_TRUE(test::Succeeded(file.Append(failed, packages)));
  ASSERT_TRUE(test::Succeeded(file.Append(passed, {})));
  const Status unknown = file.Append(running, packages);
  EXPECT_FALSE(unknown);
  EXPECT_EQ(unknown.error().text, "the result of ttyACM13 is not known yet");

  const std::vector<json> records = ReadRecords(dir / "results.jsonl");
  ASSERT_EQ(records.size(), 2u);
  // Whole objects compared: a key missing, renamed or added fails as a wrong value does.
  EXPECT_EQ(records[0], json::parse(R"({"run": 2, "slot": 6, "port": 7, "usb_path": "1-1.3",
      "verdict": "FAIL", "code": 17, "message": "device removed \ufffd", "elapsed_ms": 83250,
      "bytes": 1048576, "total": 6000004096,
      "packages": [{"slot": "BL", "path": "/fw/BL_X100.tar.md5", "size": 4096},
                   {"slot": "AP", "path": "/fw/AP_X100.tar", "size": 6000000000}],
      "started": "2027-01-15T08:00:00.123Z", "ended": "2027-01-15T08:01:23.373Z",
      "model": "X100", "device_info": ["X100", "eMMC"]})"));
  EXPECT_EQ(records[1], json::parse(R"({"run": 2, "slot": 11, "port": 12, "usb_path": null,
      "verdict": "PASS", "code": 0, "message": "", "elapsed_ms": 83250,
      "bytes": 6000004096, "total": 6000004096, "packages": [],
      "started": "2027-01-15T08:00:00.123Z", "ended": "2027-01-15T08:01:23.373Z"})"));

  // A second station opening the same file appends after what is there.
  ResultsFile again;
  ASSERT_TRUE(test::Succeeded(again.Open(dir / "results.jsonl")));
  ASSERT_TRUE(test::Succeeded(again.Append(passed, {})));
  EXPECT_EQ(ReadRecords(dir / "results.jsonl").size(), 3u);
}

TEST(ResultsFile, TwoWritersLeaveWholeLines) {
  test::TempDir dir;
  constexpr int RECORDS = 400;
  // Records larger than a pipe's atomic write, so that only one write per record keeps them
  // whole.
  const auto writer = [&](int port) {
    ResultsFile file;
    ASSERT_TRUE(test::Succeeded(file.Open(dir / "shared.jsonl")));
    PortRun p = Finished(port, Verdict::Failed);
    p.message = std::string(9000, static_cast<char>('a' + port));
    for (int i = 0; i < RECORDS; ++i) {
      p.run = i;
      ASSERT_TRUE(test::Succeeded(file.Append(p, {{"AP", "/fw/AP.tar", 1}})));
    }
  };
  std::thread one(writer, 1);
  std::thread two(writer, 2);
  one.join();
  two.join();

  const std::vector<json> records = ReadRecords(dir / "shared.jsonl");
  ASSERT_EQ(records.size(), 2u * RECORDS);
  int runs[3] = {0, 0, 0};
  for (const json& r : records) {
    const int port = r["port"];
    ASSERT_TRUE(port == 1 || port == 2);
    EXPECT_EQ(r["run"], runs[port]++);  // each writer's records in its own order
    EXPECT_EQ(r["message"], std::string(9000, static_cast<char>('a' + port)));
  }
}

TEST(ResultsFile, SaysWhyARecordCannotBeWritten) {
  test::TempDir dir;
  ResultsFile file;
  const std::string missing = dir / "no-such-dir/results.jsonl";
  const Status notOpened = file.Open(missing);
  EXPECT_FALSE(notOpened);
  EXPECT_EQ(notOpened.error().text,
            "cannot open the results file \"" + missing + "\": No such file or directory");
  EXPECT_EQ(notOpened.error().errorNumber, ENOENT);
  const Status notOpen = file.Append(Finished(1, Verdict::Passed), {});
  EXPECT_FALSE(notOpen);
  EXPECT_EQ(notOpen.error().text, "the results file is not open");

  // A full disk.
  ASSERT_TRUE(test::Succeeded(file.Open("/dev/full")));
  const Status full = file.Append(Finished(1, Verdict::Passed), {});
  EXPECT_FALSE(full);
  EXPECT_EQ(full.error().text,
            "cannot write to the results file \"/dev/full\": No space left on device");
  EXPECT_EQ(full.error().errorNumber, ENOSPC);
}

}  // namespace
}  // namespace mirk3
