#include "station/output_health.h"

#include <unistd.h>

namespace mirk3 {
namespace {

// One write, never retried: standard error that is full or gone must not hold the station.
void WriteToStandardError(const std::string& line) {
  const std::string text = line + "\n";
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
}

}  // namespace

OutputHealth::OutputHealth(std::string who) : who_(std::move(who)), err_(WriteToStandardError) {}

void OutputHealth::Lost(const std::string& output, const std::string& why) {
  if (lost_[output]++ > 0) return;
  err_(who_ + ": " + why + "; the station goes on without " + output +
       " (said once; the exit status will be 3)");
  // The log line may reach the output that is failing right now; its own loss then comes back
  // here and stops at the count above, and a second output failing inside this line is told
  // on standard error only.
  if (!log_ || telling_) return;
  telling_ = true;
  log_("Output failed: " + why);
  telling_ = false;
}

std::string OutputHealth::Summary() const {
  std::string text;
  for (const auto& [output, count] : lost_) {
    text += (text.empty() ? "" : ", ") + output + " lost " + std::to_string(count);
  }
  return text;
}

int ExitStatusWith(int runStatus, const OutputHealth& health) {
  if (runStatus == kExitNothingRan || !health.AnyLost()) return runStatus;
  return kExitOutputLost;
}

}  // namespace mirk3
