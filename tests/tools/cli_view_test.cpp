// The live line of mirk3-cli on a terminal: one bracket per port, drawn again on every change.
#include "app/cli_view.h"

#include <gtest/gtest.h>

#include <sstream>

namespace mirk3 {
namespace {

// The line as a terminal shows it last: the text after the last "erase line" sequence.
std::string LastLine(const std::string& err) {
  const auto at = err.rfind("\r\033[K");
  return at == std::string::npos ? err : err.substr(at + 4);
}

TEST(CliView, TheLiveLineShowsWhatEachPortIsDoing) {
  const struct {
    SlotState state;
    int percent;
    std::string status;
    std::string shown;
  } cases[] = {
      {SlotState::Added, 0, "", "[ttyACM3 ready] "},
      {SlotState::Running, -1, "waiting for ttyACM3 (12/71)", "[ttyACM3 waiting (12/71)] "},
      {SlotState::Running, -1, "waiting for ttyACM3 (13/71): permission denied",
       "[ttyACM3 waiting (13/71): permission denied] "},
      {SlotState::Running, 42, "BOOT", "[ttyACM3  42%] "},
      {SlotState::Passed, 100, " 00:07 ", "[ttyACM3 PASS] "},
      {SlotState::Failed, -1, "FAIL!", "[ttyACM3 FAIL] "},
  };
  for (const auto& c : cases) {
    std::ostringstream out, err;
    CliView view(out, err, true);
    view.ShowSlot(0, 3, c.state, c.percent, c.status);
    EXPECT_EQ(LastLine(err.str()), c.shown) << c.status;
    EXPECT_EQ(out.str(), "") << "the live line never reaches standard output";
  }
}

}  // namespace
}  // namespace mirk3
