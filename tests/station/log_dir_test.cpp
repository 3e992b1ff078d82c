// The log dir: each log line time-stamped in the file of its day, the results records beside
// it following the same day, the dir made when missing and refused when it cannot be.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

#include "station/station_wiring.h"
#include "support/recording_sink.h"
#include "support/station_harness.h"
#include "support/succeeded.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

using std::chrono::milliseconds;
using std::chrono::system_clock;

class NoView : public StationView {
 public:
  void AppendLog(const std::string&) override {}
  void ShowMessage(const std::string&, const std::string&) override {}
};

system_clock::time_point Utc(int year, int month, int day, int h, int m, int s, int ms) {
  tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = h;
  t.tm_min = m;
  t.tm_sec = s;
  return system_clock::from_time_t(timegm(&t)) + milliseconds(ms);
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(test::ReadFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

PortRun Passed(int port) {
  PortRun run;
  run.port = port;
  run.slot = port;
  run.verdict = Verdict::Passed;
  return run;
}

TEST(LogDir, LinesAndRecordsGoToTheFilesOfTheirDayAcrossMidnight) {
  setenv("TZ", "UTC", 1);  // the files are named by the local date
  tzset();
  test::EnsureQtApplication();
  test::TempDir temp;
  const std::string dir = temp / "logs/station-1";  // made when missing
  auto now = std::make_shared<system_clock::time_point>(Utc(2026, 12, 9, 23, 59, 59, 500));
  NoView view;
  test::RecordingSink sink;
  Station station(&view, &sink, EngineContext{});
  OutputHealth health("test");
  const auto files = AttachLogDir(station, dir, health, [now] { return *now; });
  ASSERT_TRUE(test::Succeeded(files));

  station.LogLine("before midnight");
  Q_EMIT station.portFinished(Passed(3));
  *now = Utc(2026, 12, 10, 0, 0, 0, 250);
  station.LogLine("after midnight");
  Q_EMIT station.portFinished(Passed(4));

  EXPECT_EQ(Lines(dir + "/mirk3-2026-12-09.log"),
            std::vector<std::string>{"2026-12-09 23:59:59.500 <OSM> before midnight"});
  EXPECT_EQ(Lines(dir + "/mirk3-2026-12-10.log"),
            std::vector<std::string>{"2026-12-10 00:00:00.250 <OSM> after midnight"});
  const auto before = Lines(dir + "/results-2026-12-09.jsonl");
  const auto after = Lines(dir + "/results-2026-12-10.jsonl");
  ASSERT_EQ(before.size(), 1u);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_NE(before[0].find("\"port\":3"), std::string::npos) << before[0];
  EXPECT_NE(after[0].find("\"port\":4"), std::string::npos) << after[0];
}

TEST(LogDir, ADirThatCannotBeMadeIsRefusedWithItsName) {
  test::EnsureQtApplication();
  test::TempDir temp;
  test::WriteFile(temp / "taken", "a file, not a dir");
  NoView view;
  test::RecordingSink sink;
  Station station(&view, &sink, EngineContext{});
  OutputHealth health("test");
  const auto refused = AttachLogDir(station, temp / "taken/logs", health);
  EXPECT_FALSE(refused);
  const std::string& error = refused.error().text;
  EXPECT_NE(error.find(temp / "taken/logs"), std::string::npos) << error;
}

}  // namespace
}  // namespace mirk3
