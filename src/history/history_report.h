// What `mirk3-cli results` reads from the history: the yield per day, per package set and per
// slot, and for each slot and USB path its recent pass rate, median time and median
// throughput, with the slots that fail far more often than the rest of their station
// flagged (the rule of slot_health.h). Slots are a station's own: slot 3 of two stations are
// two slots.
#pragma once

#include <string>
#include <vector>

#include "base/result.h"
#include "history/slot_health.h"
#include "history/sql_connection.h"

namespace mirk3 {

struct ReportFilter {
  std::string since;    // UTC ISO 8601 (or its date); empty: all
  std::string station;  // empty: every station
  FlagRule rule;
};

struct YieldRow {
  std::string station;  // empty where rows are not per station
  std::string key;      // the day, the package set, or the slot
  int64_t phones = 0;
  int64_t passed = 0;
};

struct RecentRow {
  std::string station;
  int slot = -1;
  std::string usbPath;  // "-" for phones without one
  int results = 0;
  int passed = 0;
  double medianSeconds = 0;    // of the passed phones; 0 without
  double medianMBPerSecond = 0;  // of the passed phones that wrote bytes
};

struct FlaggedSlot {
  std::string station;
  SlotJudgement judgement;
  std::string usbPath;  // of its last phone
};

struct HistoryReport {
  std::vector<YieldRow> days, packageSets, slots;
  std::vector<RecentRow> recent;
  std::vector<FlaggedSlot> flagged;
};

Result<HistoryReport> ReadHistoryReport(SqlConnection& connection, const ReportFilter& filter);

// The operator clears a slot of a station: its health counts afresh from now.
Status ClearSlot(SqlConnection& connection, const std::string& station, int slot);

}  // namespace mirk3
