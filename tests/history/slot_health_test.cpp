// The rule that flags a slot "check the cable or hub": the binomial tail it rests on, which
// slots of a station it flags and which it leaves alone, and how the running station's health
// follows results and the operator's clears.
#include <gtest/gtest.h>

#include "history/slot_health.h"

namespace mirk3 {
namespace {

TEST(SlotHealthRule, TheBinomialTail) {
  EXPECT_DOUBLE_EQ(BinomialTailAtLeast(0, 10, 0.3), 1);
  EXPECT_NEAR(BinomialTailAtLeast(1, 10, 0.5), 1 - 1.0 / 1024, 1e-12);
  EXPECT_NEAR(BinomialTailAtLeast(10, 10, 0.5), 1.0 / 1024, 1e-12);
  EXPECT_NEAR(BinomialTailAtLeast(2, 3, 0.1), 3 * 0.01 * 0.9 + 0.001, 1e-12);
  EXPECT_DOUBLE_EQ(BinomialTailAtLeast(4, 3, 0.9), 0);
}

std::vector<bool> Outcomes(int results, int failures) {
  std::vector<bool> v(static_cast<size_t>(results), true);
  for (int i = 0; i < failures; ++i) v[static_cast<size_t>(i * results / failures)] = false;
  return v;
}

TEST(SlotHealthRule, OnlyASlotFarAboveItsStationIsFlagged) {
  struct Case {
    const char* what;
    std::map<int, std::pair<int, int>> slots;  // slot -> (results, failures)
    std::vector<int> flagged;
  };
  const Case cases[] = {
      {"one bad slot among good ones", {{0, {25, 0}}, {1, {25, 1}}, {2, {25, 20}}, {3, {25, 0}}},
       {2}},
      {"a single failure on a station that never fails", {{0, {25, 0}}, {1, {25, 1}}, {2, {25, 0}}},
       {}},
      {"every slot failing alike: the phones, not a cable", {{0, {40, 20}}, {1, {40, 22}}, {2, {40, 19}}},
       {}},
      {"too few results to tell", {{0, {30, 0}}, {1, {9, 9}}}, {}},
      {"enough results", {{0, {30, 0}}, {1, {10, 10}}}, {1}},
      {"only the window counts: old failures gone", {{0, {50, 0}}, {1, {50, 0}}}, {}},
  };
  for (const Case& c : cases) {
    std::map<int, std::vector<bool>> outcomes;
    for (const auto& [slot, counts] : c.slots) outcomes[slot] = Outcomes(counts.first, counts.second);
    std::vector<int> flagged;
    for (const SlotJudgement& j : JudgeSlots(outcomes, FlagRule{})) {
      if (j.flagged) flagged.push_back(j.slot);
    }
    EXPECT_EQ(flagged, c.flagged) << c.what;
  }
  // Forty failures long ago, then fifty passes: the window of fifty sees none.
  std::map<int, std::vector<bool>> old = {{0, Outcomes(90, 0)}, {1, Outcomes(40, 40)}};
  old[1].insert(old[1].end(), 50, true);
  for (const SlotJudgement& j : JudgeSlots(old, FlagRule{})) EXPECT_FALSE(j.flagged) << j.slot;
}

TEST(SlotHealthRule, TheStationFlagsOnceAndForgetsAtTheClear) {
  SlotHealth health(FlagRule{}, true);
  int crossings = 0;
  for (int i = 0; i < 30; ++i) {
    const std::string ended = "2026-12-09T10:" + std::to_string(10 + i) + ":00.000Z";
    for (int slot = 0; slot < 4; ++slot) {
      for (const SlotJudgement& j : health.Add({slot, "1-1.9", slot != 2, ended})) {
        EXPECT_EQ(j.slot, 2);
        ++crossings;
      }
    }
  }
  EXPECT_EQ(crossings, 1) << "one crossing, however long it keeps failing";
  EXPECT_TRUE(health.IsQuarantined(2));
  EXPECT_FALSE(health.IsQuarantined(1));
  EXPECT_EQ(FlaggedText(JudgeSlots({{0, Outcomes(30, 0)}, {2, Outcomes(12, 9)}}, {})[1], "1-1.3"),
            "Slot 2 (USB 1-1.3): 9 of 12 recent phones failed, the station's rate is 3%: check "
            "the cable or hub");

  EXPECT_EQ(health.SetClears({{2, "2026-12-09T10:39:00.000Z"}}), std::vector<int>{2});
  EXPECT_FALSE(health.IsQuarantined(2));
  EXPECT_TRUE(health.SetClears({{2, "2026-12-09T10:39:00.000Z"}}).empty()) << "seen already";
  EXPECT_TRUE(health.Add({2, "", false, "2026-12-09T10:38:00.000Z"}).empty())
      << "a result from before the clear does not count";
  for (int i = 0; i < 9; ++i) health.Add({2, "", false, "2026-12-09T11:0" + std::to_string(i)});
  EXPECT_FALSE(health.IsFlagged(2)) << "nine results since the clear are too few";
  health.Add({2, "", false, "2026-12-09T11:10"});
  EXPECT_TRUE(health.IsFlagged(2));

  SlotHealth watching(FlagRule{}, false);
  for (int i = 0; i < 20; ++i) {
    watching.Add({0, "", true, std::to_string(i)});
    watching.Add({1, "", false, std::to_string(i)});
  }
  EXPECT_TRUE(watching.IsFlagged(1));
  EXPECT_FALSE(watching.IsQuarantined(1)) << "flagged, but used, without --quarantine";
}

}  // namespace
}  // namespace mirk3
