// The station's counters for a line's dashboard, as a Prometheus text file that
// node_exporter's textfile collector reads: no server of the station's own. The file is
// replaced whole after every result (written beside it, synced, renamed over it), so the
// collector never reads half a file.
//
//   mirk3_phones_passed_total{station}            phones passed
//   mirk3_phones_failed_total{station,code}       phones failed, by failure code
//   mirk3_retries_total{station}                  attempts beyond each phone's first
//   mirk3_bytes_written_total{station}            bytes written to phones
//   mirk3_flash_seconds{station} (histogram)      time of each passed phone
//   mirk3_slots_flagged{station}                  slots flagged "check the cable or hub"
//   mirk3_last_result_timestamp_seconds{station}  when the last result came
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/result.h"

namespace mirk3 {

class MetricsFile {
 public:
  MetricsFile(std::string path, std::string station);

  // Counts one results record (the station's JSON object); false for one that is not.
  bool Add(const std::string& recordJson);
  void SetSlotsFlagged(int count) { slotsFlagged_ = count; }
  // The file's text now.
  std::string Text() const;
  // Replaces the file; fails with why (the old file then stays as it was).
  Status Write() const;

 private:
  std::string path_;
  std::string station_;  // as a label value, escaped
  uint64_t passed_ = 0;
  std::map<int64_t, uint64_t> failedByCode_;
  uint64_t retries_ = 0;
  uint64_t bytes_ = 0;
  std::vector<uint64_t> buckets_;  // passes at or under each bound, cumulative when written
  double secondsSum_ = 0;
  int slotsFlagged_ = 0;
  double lastResult_ = 0;
};

}  // namespace mirk3
