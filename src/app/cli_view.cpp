#include "app/cli_view.h"

#include "base/text.h"
#include "serial/serial_line.h"

namespace mirk3 {
namespace {

// The start of the engine's progress text while the line waits for its port.
constexpr char WAITING_PREFIX[] = "waiting for ";

}  // namespace

CliView::CliView(std::ostream& out, std::ostream& err, bool liveProgress)
    : out_(out), err_(err), live_(liveProgress) {}

void CliView::AppendLog(const std::string& line) {
  ClearProgress();
  out_ << line << '\n' << std::flush;
  DrawProgress(true);
}

void CliView::ShowSlot(int slot, int port, SlotState state, int percent,
                       const std::string& status) {
  SlotLine& line = slots_[slot];
  line.port = port;
  line.state = state;
  if (percent >= 0) line.percent = percent;
  line.status = status;
  DrawProgress(state != SlotState::Running);
}

void CliView::ShowMessage(const std::string& text) {
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
  if (!live_ || slots_.empty()) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  std::string text;
  for (const auto& [slot, line] : slots_) {
    if (line.port < 0) continue;
    std::string state;
    switch (line.state) {
      case SlotState::Passed:
        state = "PASS";
        break;
      case SlotState::Failed:
        state = "FAIL";
        break;
      case SlotState::Reset:
        state = "RESET";
        break;
      case SlotState::Removed:
        state = "gone";
        break;
      case SlotState::Running:
        state = line.percent >= 0 ? Format("%3d%%", line.percent) : "...";
        // A phone still on its way: which attempt of how many, not a percentage.
        if (line.status.rfind(WAITING_PREFIX, 0) == 0 &&
            line.status.find('(') != std::string::npos) {
          state = "waiting " + line.status.substr(line.status.find('('));
        }
        break;
      default:
        state = "ready";
        break;
    }
    text += Format("[%s %s] ", PortName(line.port).c_str(), state.c_str());
  }
  err_ << "\r\033[K" << text << std::flush;
  drawn_ = true;
}

}  // namespace mirk3
