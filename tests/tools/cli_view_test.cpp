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
    Verdict verdict;
    uint64_t sent, total;
    std::string step;
    std::string shown;
  } cases[] = {
      {Verdict::Waiting, 0, 0, "", "[ttyACM3 ready] "},
      {Verdict::Running, 0, 0, "waiting for ttyACM3 (12/71)", "[ttyACM3 waiting (12/71)] "},
      {Verdict::Running, 0, 0, "waiting for ttyACM3 (13/71): permission denied",
       "[ttyACM3 waiting (13/71): permission denied] "},
      {Verdict::Running, 42, 0, "BOOT", "[ttyACM3 ...] "},  // no total yet: no percentage
      {Verdict::Running, 42, 100, "BOOT", "[ttyACM3  42%] "},
      {Verdict::Passed, 100, 100, "", "[ttyACM3 PASS] "},
      {Verdict::Failed, 10, 100, "", "[ttyACM3 FAIL] "},
  };
  for (const auto& c : cases) {
    std::ostringstream out, err;
    CliView view(out, err, true);
    PortRun run;
    run.slot = 0;
    run.port = 3;
    run.verdict = c.verdict;
    run.sent = c.sent;
    run.total = c.total;
    run.step = c.step;
    view.PortRunChanged(run);
    EXPECT_EQ(LastLine(err.str()), c.shown) << c.step;
    EXPECT_EQ(out.str(), "") << "the live line never reaches standard output";
  }
}

}  // namespace
}  // namespace mirk3
