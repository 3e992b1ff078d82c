// Many stations, one PostgreSQL: a real server of Debian's package started by the test,
// killed while a station writes to it and started again; every record arrives once, the
// outage is told once, and the report reads the server as it reads a file.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <atomic>
#include <mutex>

#include "history/history_report.h"
#include "history/history_schema.h"
#include "history/history_writer.h"
#include "postgres_server.h"
#include "support/station_harness.h"
#include "support/succeeded.h"

namespace mirk3 {
namespace {

std::string Record(int i) {
  return "{\"run\":" + std::to_string(i / 8 + 1) + ",\"slot\":" + std::to_string(i % 8) +
         ",\"port\":" + std::to_string(i % 8) + ",\"verdict\":\"" +
         (i % 8 == 5 ? "FAIL" : "PASS") + "\",\"code\":0,\"elapsed_ms\":1000,\"bytes\":10,"
         "\"ended\":\"2026-12-09T10:00:00." + std::to_string(100 + i % 900) + "Z\"}";
}

bool WaitFor(const std::function<bool()>& done, int ms = 120000) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) QThread::msleep(50);
  return done();
}

TEST(Postgres, AServerLostMidDayLosesNothingAndGetsNothingTwice) {
  if (const std::string why = test::PostgresServer::Unavailable(); !why.empty()) {
    GTEST_SKIP() << why;
  }
  test::EnsureQtApplication();
  test::PostgresServer server;
  std::string error;
  ASSERT_TRUE(server.Create(&error)) << error;
  test::TempDir dir;

  WriterOptions options;
  options.target = ParseDatabaseTarget(server.Url()).value();
  options.bufferPath = dir / "buffer/results-buffer.sqlite";
  options.station = "Line 3";
  options.retryEvery = std::chrono::milliseconds(200);
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
  HistoryWriter writer;
  ASSERT_TRUE(test::Succeeded(writer.Start(options, events)));
  std::vector<HistoryEntry> entries;
  for (int i = 0; i < 300; ++i) {
    entries.push_back({NewRecordId(), "run-" + std::to_string(i / 8), "Line 3", Record(i)});
  }
  const auto count = [&server] { return server.Query("SELECT COUNT(*) FROM results"); };
  for (int i = 0; i < 100; ++i) writer.Submit(entries[i]);
  ASSERT_TRUE(WaitFor([&] { return count() == "100\n"; })) << count();

  ASSERT_TRUE(server.Kill());
  for (int i = 100; i < 200; ++i) writer.Submit(entries[i]);
  ASSERT_TRUE(writer.Flush(std::chrono::seconds(60)));
  ASSERT_TRUE(WaitFor([&] { return writer.Waiting() == 100; })) << writer.Waiting();
  ASSERT_TRUE(server.Start());
  for (int i = 200; i < 300; ++i) writer.Submit(entries[i]);
  writer.Submit(entries[150]);  // sent twice: the server keeps it once
  ASSERT_TRUE(WaitFor([&] { return count() == "300\n" && writer.Waiting() == 0; }))
      << count() << " waiting " << writer.Waiting();
  writer.Stop();
  EXPECT_EQ(writer.Lost(), 0);
  EXPECT_EQ(server.Query("SELECT COUNT(DISTINCT id) FROM results WHERE station = 'Line 3'"),
            "300\n");
  {
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(told.size(), 2u) << "the outage told once, its end once";
    EXPECT_NE(told[0].find("failed: "), std::string::npos);
    EXPECT_NE(told[0].find(options.bufferPath), std::string::npos) << told[0];
    EXPECT_NE(told[1].find("recovered: "), std::string::npos) << told[1];
  }

  // The same report as from a file: the window query and the clear upsert in PostgreSQL.
  SqlConnection reader;
  ASSERT_TRUE(test::Succeeded(reader.Open(options.target)));
  ASSERT_TRUE(test::Succeeded(MigrateHistorySchema(reader)));
  const auto report = ReadHistoryReport(reader, ReportFilter{});
  ASSERT_TRUE(test::Succeeded(report));
  ASSERT_EQ(report->flagged.size(), 1u);
  EXPECT_EQ(report->flagged[0].judgement.slot, 5);
  EXPECT_TRUE(test::Succeeded(ClearSlot(reader, "Line 3", 5)));
  const Status again = ClearSlot(reader, "Line 3", 5);
  EXPECT_TRUE(again) << "cleared again: " << again.error().text;
  EXPECT_EQ(server.Query("SELECT COUNT(*) FROM slot_clears"), "1\n");
}

}  // namespace
}  // namespace mirk3
