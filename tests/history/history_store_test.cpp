// The history's own pieces against real SQLite files: what a --results-db text names, the
// schema made and migrated by version, a record stored once whatever is sent twice with its
// typed columns and every field of the JSON kept, and the report's yields and medians.
#include <gtest/gtest.h>

#include <QSqlQuery>
#include <mutex>
#include <thread>
#include <nlohmann/json.hpp>

#include "history/database_target.h"
#include "history/history_entry.h"
#include "history/history_report.h"
#include "history/history_schema.h"
#include "history/history_writer.h"
#include "support/station_harness.h"
#include "support/succeeded.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

TEST(DatabaseTarget, FilesAndUrls) {
  struct Case {
    std::string text;
    std::string described;  // empty: refused
    std::string host;
  };
  const Case cases[] = {
      {"/var/lib/mirk3/history.sqlite", "/var/lib/mirk3/history.sqlite", ""},
      {"postgresql://line@db.example/history", "postgresql://line@db.example/history",
       "db.example"},
      {"postgres://line:secret@db:6543/history", "postgresql://line@db:6543/history", "db"},
      {"postgresql://line@/history?host=/run/postgresql", "postgresql://line@/run/postgresql/history",
       "/run/postgresql"},
      {"postgresql://line@db/", "", ""},
      {"postgresql://line@db:port/history", "", ""},
      {"mysql://line@db/history", "", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    const auto target = ParseDatabaseTarget(c.text);
    EXPECT_EQ(target ? target->Describe() : "", c.described) << c.text;
    EXPECT_EQ(target.ok(), target.error().text.empty()) << c.text << ": " << target.error().text;
    if (target && target->IsPostgres()) {
      EXPECT_EQ(target->host, c.host) << c.text;
    }
  }
  const auto withPassword = ParseDatabaseTarget("postgresql://line:s%40cret@db/h");
  ASSERT_TRUE(withPassword);
  EXPECT_EQ(withPassword->password, "s@cret");
}

class HistoryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureQtApplication();
    target.path = dir / "history.sqlite";
    ASSERT_TRUE(test::Succeeded(connection.Open(target)));
    ASSERT_TRUE(test::Succeeded(MigrateHistorySchema(connection)));
  }

  std::string Scalar(const std::string& sql) {
    QSqlQuery q(connection.Db());
    if (!q.exec(QString::fromStdString(sql)) || !q.next()) return "<none>";
    return q.value(0).toString().toStdString();
  }

  static std::string Record(int slot, bool passed, int64_t elapsedMs, const std::string& ended,
                            const std::string& extra = "") {
    return "{\"run\":1,\"slot\":" + std::to_string(slot) + ",\"port\":" + std::to_string(slot) +
           ",\"usb_path\":\"1-1." + std::to_string(slot + 1) + "\",\"verdict\":\"" +
           (passed ? "PASS" : "FAIL") + "\",\"code\":" + (passed ? "0" : "-6") +
           ",\"elapsed_ms\":" + std::to_string(elapsedMs) +
           ",\"bytes\":2000000,\"total\":2000000,\"ended\":\"" + ended +
           "\",\"packages\":[{\"slot\":\"AP\",\"path\":\"/p/AP_X.tar\",\"size\":5}]" + extra + "}";
  }

  test::TempDir dir;
  DatabaseTarget target;
  SqlConnection connection;
};

TEST_F(HistoryFile, TheSchemaIsMadeOnceAndANewerOneIsRefused) {
  const Result<int> version = HistorySchemaVersion(connection);
  ASSERT_TRUE(test::Succeeded(version));
  EXPECT_EQ(*version, HISTORY_SCHEMA_VERSION);
  ASSERT_TRUE(MigrateHistorySchema(connection)) << "a second start migrates nothing";
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM schema_version"), "1");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND name IN "
                   "('results_ended', 'results_slot', 'results_usb_path', 'runs_started')"),
            "4");
  ASSERT_TRUE(connection.Exec("INSERT INTO schema_version (version) VALUES (99)"));
  const Status newer = MigrateHistorySchema(connection);
  EXPECT_FALSE(newer);
  EXPECT_NE(newer.error().text.find("newer than this program's"), std::string::npos)
      << newer.error().text;
}

TEST_F(HistoryFile, ARecordIsStoredOnceWithEveryFieldKept) {
  const std::string record =
      "{\"run\":4,\"slot\":2,\"port\":9,\"usb_path\":null,\"verdict\":\"PASS\",\"code\":0,"
      "\"elapsed_ms\":41000,\"bytes\":300,\"total\":300,\"model\":\"SM-X\",\"attempts\":2,"
      "\"ended\":\"2026-12-09T03:51:47.340Z\",\"device_info\":{\"serial\":\"R5\"},"
      "\"packages\":[{\"slot\":\"AP\",\"path\":\"/p/AP_X.tar\",\"size\":5,"
      "\"sha256\":\"3f2a0011223344556677\"},{\"slot\":\"CSC\",\"path\":\"CSC.tar.md5\"}]}";
  const HistoryEntry entry{NewRecordId(), NewRecordId(), "Line 3", record};
  ASSERT_TRUE(test::Succeeded(StoreEntries(connection, {entry})));
  ASSERT_TRUE(StoreEntries(connection, {entry})) << "sent again after a lost line";
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM results"), "1");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM runs"), "1");
  EXPECT_EQ(Scalar("SELECT station || '|' || run || '|' || slot || '|' || port || '|' || "
                   "COALESCE(usb_path, 'null') || '|' || model || '|' || attempts || '|' || "
                   "package_set FROM results"),
            "Line 3|4|2|9|null|SM-X|2|AP=AP_X.tar#3f2a00112233 CSC=CSC.tar.md5");
  const auto kept = nlohmann::json::parse(Scalar("SELECT record FROM results"));
  EXPECT_EQ(kept["device_info"]["serial"], "R5") << "a field the columns do not know";

  const HistoryEntry broken{NewRecordId(), entry.runId, "Line 3", "[1,2]"};
  EXPECT_FALSE(StoreEntries(connection, {broken}));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM results"), "1");
}

TEST_F(HistoryFile, TheReportCountsYieldsMediansAndFlagsTheBadSlot) {
  std::vector<HistoryEntry> entries;
  const std::string run = NewRecordId();
  for (int i = 0; i < 30; ++i) {
    const std::string ended = "2026-12-09T10:" + std::to_string(10 + i) + ":00.000Z";
    for (int slot = 0; slot < 4; ++slot) {
      // Slot 3 fails two phones of three; slot 1 fails once.
      const bool passed = slot == 3 ? i % 3 == 0 : !(slot == 1 && i == 7);
      entries.push_back({NewRecordId(), run, "Line 3",
                         Record(slot, passed, 1000 * (slot + 1) + i % 2 * 1000, ended)});
    }
  }
  entries.push_back(
      {NewRecordId(), run, "Line 4", Record(3, true, 500, "2026-12-10T01:00:00.000Z")});
  ASSERT_TRUE(test::Succeeded(StoreEntries(connection, entries)));

  ReportFilter filter;
  const auto report = ReadHistoryReport(connection, filter);
  ASSERT_TRUE(test::Succeeded(report));
  int64_t phones = 0;
  for (const YieldRow& day : report->days) phones += day.phones;
  EXPECT_EQ(phones, 121);
  ASSERT_EQ(report->packageSets.size(), 1u);
  EXPECT_EQ(report->packageSets[0].key, "AP=AP_X.tar");
  ASSERT_EQ(report->flagged.size(), 1u);
  EXPECT_EQ(report->flagged[0].station, "Line 3");
  EXPECT_EQ(report->flagged[0].judgement.slot, 3);
  EXPECT_EQ(report->flagged[0].usbPath, "1-1.4");
  for (const RecentRow& r : report->recent) {
    if (r.station != "Line 3" || r.slot != 0) continue;
    EXPECT_EQ(r.results, 30);
    EXPECT_DOUBLE_EQ(r.medianSeconds, 1.5) << "the middle of 15 at 1 s and 15 at 2 s";
    EXPECT_DOUBLE_EQ(r.medianMBPerSecond, 1.5) << "the middle of 2 MB/s and 1 MB/s";
  }

  filter.station = "Line 3";
  filter.since = "2026-12-09T10:30:00";
  const auto later = ReadHistoryReport(connection, filter);
  ASSERT_TRUE(test::Succeeded(later));
  ASSERT_EQ(later->slots.size(), 4u);
  EXPECT_EQ(later->slots[3].phones, 10) << "ten minutes of slot 3";

  ASSERT_TRUE(test::Succeeded(ClearSlot(connection, "Line 3", 3)));
  const auto cleared = ReadHistoryReport(connection, ReportFilter{});
  ASSERT_TRUE(test::Succeeded(cleared));
  EXPECT_TRUE(cleared->flagged.empty()) << "its results before the clear no longer count";
}

// The file refuses writes while its results table is away (as another program holding or
// changing it would make it): the writer says so once, holds the records, stores them when
// the table is back, and counts what it still holds at its end as lost.
TEST_F(HistoryFile, AFileThatRefusesWritesIsToldOnceAndCaughtUpWith) {
  std::mutex mutex;
  std::vector<std::string> told;
  WriterEvents events;
  events.failed = [&](const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex);
    told.push_back("failed: " + why);
  };
  events.recovered = [&](const std::string& how) {
    std::lock_guard<std::mutex> lock(mutex);
    told.push_back("recovered: " + how);
  };
  WriterOptions options;
  options.target = target;
  options.station = "Line 3";
  options.retryEvery = std::chrono::milliseconds(50);
  HistoryWriter writer;
  ASSERT_TRUE(test::Succeeded(writer.Start(options, events)));
  const std::string run = NewRecordId();
  auto submit = [&](int n) {
    for (int i = 0; i < n; ++i) {
      writer.Submit({NewRecordId(), run, "Line 3", Record(i % 4, true, 10, "2026-12-09T10:00")});
    }
  };
  ASSERT_TRUE(test::Succeeded(connection.Exec("ALTER TABLE results RENAME TO results_away")));
  submit(5);
  submit(5);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (writer.Waiting() != 10 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(writer.Waiting(), 10) << "held, not dropped";
  ASSERT_TRUE(test::Succeeded(connection.Exec("ALTER TABLE results_away RENAME TO results")));
  ASSERT_TRUE(writer.Flush(std::chrono::seconds(60)));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM results"), "10");
  {
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(told.size(), 2u);
    EXPECT_NE(told[0].find("failed: cannot store"), std::string::npos) << told[0];
    EXPECT_EQ(told[1].find("recovered: "), 0u) << told[1];
  }
  ASSERT_TRUE(test::Succeeded(connection.Exec("ALTER TABLE results RENAME TO results_away")));
  submit(3);
  writer.Stop();
  EXPECT_EQ(writer.Lost(), 3) << "what never reached the file is counted, not hidden";
}

}  // namespace
}  // namespace mirk3
