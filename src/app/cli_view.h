// The headless station's face: log lines on standard output, exactly as the window writes
// them, and on a terminal a live progress line per port on standard error.
#pragma once

#include <chrono>
#include <map>
#include <ostream>

#include "app/station_view.h"

namespace mirk3 {

class CliView : public StationView {
 public:
  CliView(std::ostream& out, std::ostream& err, bool liveProgress);

  void AppendLog(const std::string& line) override;
  void ShowSlot(int slot, int port, SlotState state, int percent,
                const std::string& status) override;
  void ShowMessage(const std::string& text) override;
  // Ends the live line so that later output starts on a fresh line.
  void FinishProgress();

 private:
  struct SlotLine {
    int port = -1;
    SlotState state = SlotState::Idle;
    int percent = -1;
    std::string status;
  };
  void DrawProgress(bool force);
  void ClearProgress();

  std::ostream& out_;
  std::ostream& err_;
  bool live_;
  bool drawn_ = false;
  std::map<int, SlotLine> slots_;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace mirk3
