// Which slots fail far more often than the rest of their station: a cable or hub going bad
// shows as one slot (one USB path) whose failures the station's other slots do not share.
//
// The rule: a slot is flagged when, of its last `window` results since the operator last
// cleared it (at least `minResults` of them), the failures are so many that a slot failing at
// the station's rate would show that many or more with probability below `alpha` (a one-sided
// binomial test). The station's rate is that of its other slots' recent results, counted as
// (failures + 1) / (results + 2), so that a station that never failed yet does not make one
// failure look damning. Flagged is kept until the operator clears the slot.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace mirk3 {

struct FlagRule {
  int window = 50;
  int minResults = 10;
  double alpha = 0.001;
};

// One finished port, as the health counts it.
struct SlotResult {
  int slot = -1;
  std::string usbPath;
  bool passed = false;
  std::string ended;  // UTC, ISO 8601: ordered as text
};

struct SlotJudgement {
  int slot = -1;
  int results = 0;
  int failures = 0;
  double baseline = 0;  // the station's failure rate the slot is measured against
  double pValue = 1;    // of this many failures or more at the station's rate
  bool flagged = false;
};

// P(X >= k) for X binomially distributed with n trials of probability p.
double BinomialTailAtLeast(int k, int n, double p);

// Judges every slot of one station from its recent outcomes (true: passed), oldest first;
// only the last `rule.window` of each slot count.
std::vector<SlotJudgement> JudgeSlots(const std::map<int, std::vector<bool>>& outcomes,
                                      const FlagRule& rule);

// "Slot 3 (USB 1-1.4): 9 of 12 recent phones failed, the station's rate is 2%: check the cable
// or hub"
std::string FlaggedText(const SlotJudgement& judgement, const std::string& usbPath);

// The running station's view: results as they finish, the operator's clears as the database
// gives them, and whether a slot is kept out of use.
class SlotHealth {
 public:
  explicit SlotHealth(FlagRule rule = {}, bool quarantine = false)
      : rule_(rule), quarantine_(quarantine) {}

  // Counts a result; the slots this made cross into flagged (each once until cleared).
  std::vector<SlotJudgement> Add(const SlotResult& result);
  // The operator's clears by slot (UTC, ISO 8601): results of a slot up to its clear no longer
  // count and the slot is no longer flagged. Returns the slots this unflagged.
  std::vector<int> SetClears(const std::map<int, std::string>& clears);

  bool IsFlagged(int slot) const { return flagged_.count(slot) > 0; }
  // With --quarantine a flagged slot takes no phone until it is cleared.
  bool IsQuarantined(int slot) const { return quarantine_ && IsFlagged(slot); }
  bool Quarantining() const { return quarantine_; }
  const std::set<int>& Flagged() const { return flagged_; }
  // The USB path the slot's last phone hung on; empty when none.
  std::string UsbPathOf(int slot) const;

 private:
  FlagRule rule_;
  bool quarantine_;
  std::map<int, std::deque<SlotResult>> recent_;
  std::map<int, std::string> clears_;
  std::set<int> flagged_;
};

}  // namespace mirk3
