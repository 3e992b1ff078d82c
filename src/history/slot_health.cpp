#include "history/slot_health.h"

#include <cmath>

#include "base/text.h"

namespace mirk3 {

double BinomialTailAtLeast(int k, int n, double p) {
  if (k <= 0) return 1;
  if (k > n) return 0;
  if (p <= 0) return 0;
  if (p >= 1) return 1;
  double sum = 0;
  const double lp = std::log(p), lq = std::log1p(-p);
  for (int i = k; i <= n; ++i) {
    const double logChoose = std::lgamma(n + 1.0) - std::lgamma(i + 1.0) - std::lgamma(n - i + 1.0);
    sum += std::exp(logChoose + i * lp + (n - i) * lq);
  }
  return sum < 1 ? sum : 1;
}

std::vector<SlotJudgement> JudgeSlots(const std::map<int, std::vector<bool>>& outcomes,
                                      const FlagRule& rule) {
  struct Count {
    int results = 0, failures = 0;
  };
  std::map<int, Count> counts;
  Count all;
  for (const auto& [slot, passes] : outcomes) {
    const size_t window = static_cast<size_t>(rule.window > 0 ? rule.window : 1);
    const size_t from = passes.size() > window ? passes.size() - window : 0;
    Count& c = counts[slot];
    for (size_t i = from; i < passes.size(); ++i) {
      ++c.results;
      c.failures += passes[i] ? 0 : 1;
    }
    all.results += c.results;
    all.failures += c.failures;
  }
  std::vector<SlotJudgement> judged;
  for (const auto& [slot, c] : counts) {
    SlotJudgement j{slot, c.results, c.failures};
    const int otherResults = all.results - c.results;
    const int otherFailures = all.failures - c.failures;
    j.baseline = (otherFailures + 1.0) / (otherResults + 2.0);
    j.pValue = BinomialTailAtLeast(c.failures, c.results, j.baseline);
    j.flagged = c.results >= rule.minResults && j.pValue < rule.alpha;
    judged.push_back(j);
  }
  return judged;
}

std::string FlaggedText(const SlotJudgement& j, const std::string& usbPath) {
  return Format("Slot %d%s: %d of %d recent phones failed, the station's rate is %.0f%%: check "
                "the cable or hub",
                j.slot, usbPath.empty() ? "" : (" (USB " + usbPath + ")").c_str(), j.failures,
                j.results, j.baseline * 100);
}

std::vector<SlotJudgement> SlotHealth::Add(const SlotResult& result) {
  if (result.slot < 0) return {};
  const auto clear = clears_.find(result.slot);
  if (clear != clears_.end() && result.ended <= clear->second) return {};
  auto& recent = recent_[result.slot];
  recent.push_back(result);
  while (recent.size() > static_cast<size_t>(rule_.window)) recent.pop_front();

  std::map<int, std::vector<bool>> outcomes;
  for (const auto& [slot, results] : recent_) {
    for (const SlotResult& r : results) outcomes[slot].push_back(r.passed);
  }
  std::vector<SlotJudgement> crossed;
  for (const SlotJudgement& j : JudgeSlots(outcomes, rule_)) {
    if (j.flagged && flagged_.insert(j.slot).second) crossed.push_back(j);
  }
  return crossed;
}

std::vector<int> SlotHealth::SetClears(const std::map<int, std::string>& clears) {
  std::vector<int> unflagged;
  for (const auto& [slot, cleared] : clears) {
    const auto known = clears_.find(slot);
    if (known != clears_.end() && known->second >= cleared) continue;
    clears_[slot] = cleared;
    auto& recent = recent_[slot];
    while (!recent.empty() && recent.front().ended <= cleared) recent.pop_front();
    if (flagged_.erase(slot) > 0) unflagged.push_back(slot);
  }
  return unflagged;
}

std::string SlotHealth::UsbPathOf(int slot) const {
  const auto it = recent_.find(slot);
  return it == recent_.end() || it->second.empty() ? "" : it->second.back().usbPath;
}

}  // namespace mirk3
