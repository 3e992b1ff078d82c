#include "app/cli_view.h"

#include "base/text.h"
#include "serial/serial_line.h"

namespace mirk3 {
namespace {

// The start of the engine's progress text while the line waits for its port.
constexpr char WAITING_PREFIX[] = "waiting for ";

std::string StateText(const PortRun& run) {
  switch (run.verdict) {
    case Verdict::Passed:
      return "PASS";
    case Verdict::Failed:
      return "FAIL";
    case Verdict::Waiting:
    case Verdict::Running:
      break;
  }
  // A phone still on its way: which attempt of how many, not a percentage.
  if (run.step.rfind(WAITING_PREFIX, 0) == 0 && run.step.find('(') != std::string::npos) {
    return "waiting " + run.step.substr(run.step.find('('));
  }
  if (run.total == 0) return run.verdict == Verdict::Waiting ? "ready" : "...";
  const double share = static_cast<double>(run.sent) * 100.0 / static_cast<double>(run.total);
  return Format("%3d%%", static_cast<int>(share > 100.0 ? 100.0 : share));
}

}  // namespace

std::string ProgressLine(const std::map<int, PortRun>& ports) {
  std::string text;
  for (const auto& [slot, run] : ports) {
    text += Format("[%s %s] ", PortName(run.port).c_str(), StateText(run).c_str());
  }
  return text;
}

CliView::CliView(std::ostream& out, std::ostream& err, bool liveProgress)
    : out_(out), err_(err), live_(liveProgress) {}

void CliView::AppendLog(const std::string& line) {
  ClearProgress();
  out_ << line << '\n' << std::flush;
  DrawProgress(true);
}

void CliView::PortRunChanged(const PortRun& run) {
  ports_[run.slot] = run;
  DrawProgress(run.verdict != Verdict::Running);
}

void CliView::ShowMessage(const std::string& text, const std::string&) {
  ClearProgress();
  err_ << "mirk3-cli: " << text << '\n' << std::flush;
}

void CliView::FinishProgress() { ClearProgress(); }

void CliView::ClearProgress() {
  if (!live_ || !drawn_) return;
  err_ << "\r\033[K" << std::flush;
  drawn_ = false;
}

void CliView::DrawProgress(bool force) {
  if (!live_ || ports_.empty()) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  err_ << "\r\033[K" << ProgressLine(ports_) << std::flush;
  drawn_ = true;
}

}  // namespace mirk3
