// The metrics file as node_exporter's textfile collector reads it: counts drawn from the
// records, a histogram that is cumulative, and a file replaced whole or left as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "history/metrics_file.h"
#include "support/succeeded.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

std::string Value(const std::string& text, const std::string& series) {
  const size_t at = text.find("\n" + series + " ");
  if (at == std::string::npos) return "<absent>";
  const size_t from = at + series.size() + 2;
  return text.substr(from, text.find('\n', from) - from);
}

TEST(MetricsFile, CountsFromTheRecords) {
  test::TempDir dir;
  MetricsFile metrics(dir / "mirk3.prom", "Line \"3\"");
  EXPECT_TRUE(metrics.Add(R"({"verdict":"PASS","elapsed_ms":25000,"bytes":1000,"attempts":2})"));
  EXPECT_TRUE(metrics.Add(R"({"verdict":"PASS","elapsed_ms":95000,"bytes":500})"));
  EXPECT_TRUE(metrics.Add(R"({"verdict":"FAIL","code":-6,"bytes":20})"));
  EXPECT_TRUE(metrics.Add(R"({"verdict":"FAIL","code":-6,"attempts":3})"));
  EXPECT_FALSE(metrics.Add("not a record"));
  metrics.SetSlotsFlagged(1);
  const std::string text = metrics.Text();
  const std::string s = "station=\"Line \\\"3\\\"\"";
  EXPECT_EQ(Value(text, "mirk3_phones_passed_total{" + s + "}"), "2");
  EXPECT_EQ(Value(text, "mirk3_phones_failed_total{" + s + ",code=\"-6\"}"), "2");
  EXPECT_EQ(Value(text, "mirk3_retries_total{" + s + "}"), "3");
  EXPECT_EQ(Value(text, "mirk3_bytes_written_total{" + s + "}"), "1520");
  EXPECT_EQ(Value(text, "mirk3_flash_seconds_bucket{" + s + ",le=\"10\"}"), "0");
  EXPECT_EQ(Value(text, "mirk3_flash_seconds_bucket{" + s + ",le=\"30\"}"), "1");
  EXPECT_EQ(Value(text, "mirk3_flash_seconds_bucket{" + s + ",le=\"120\"}"), "2");
  EXPECT_EQ(Value(text, "mirk3_flash_seconds_bucket{" + s + ",le=\"+Inf\"}"), "2");
  EXPECT_EQ(Value(text, "mirk3_flash_seconds_sum{" + s + "}"), "120.000");
  EXPECT_EQ(Value(text, "mirk3_slots_flagged{" + s + "}"), "1");
  // Every sample line is a metric the file declares.
  const std::regex sample("^(mirk3_[a-z_]+?)(_bucket|_sum|_count)?\\{.*\\} [0-9.e+-]+$");
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("# ", 0) == 0) continue;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, sample)) << line;
    EXPECT_NE(text.find("# TYPE " + m[1].str() + " "), std::string::npos) << line;
  }
}

TEST(MetricsFile, ReplacedWholeOrLeftAsItWas) {
  test::TempDir dir;
  const std::string path = dir / "mirk3.prom";
  MetricsFile metrics(path, "L");
  ASSERT_TRUE(test::Succeeded(metrics.Write()));
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  metrics.Add(R"({"verdict":"PASS","elapsed_ms":1000})");
  ASSERT_TRUE(test::Succeeded(metrics.Write()));
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino) << "a new file renamed over the old one";
  EXPECT_EQ(test::ReadFile(path), metrics.Text());
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

  // The temporary name taken by a dir: the write fails and says so; the old file stays.
  std::filesystem::create_directory(path + ".tmp");
  metrics.Add(R"({"verdict":"PASS","elapsed_ms":1000})");
  const Status refused = metrics.Write();
  EXPECT_FALSE(refused);
  EXPECT_NE(refused.error().text.find("mirk3.prom"), std::string::npos) << refused.error().text;
  EXPECT_NE(test::ReadFile(path), metrics.Text());
  EXPECT_NE(test::ReadFile(path).find("mirk3_phones_passed_total{station=\"L\"} 1"),
            std::string::npos);
}

}  // namespace
}  // namespace mirk3
