// The headless station's face: log lines on standard output, exactly as the window writes
// them, operator messages on standard error, and on a terminal a live display of the ports of
// the run on standard error.
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
  void PortRunChanged(const PortRun& run) override;
  void ShowMessage(const std::string& text, const std::string& title) override;
  // Ends the live display so that later output starts on a fresh line.
  void FinishProgress();

 private:
  void DrawProgress(bool force);
  void ClearProgress();

  std::ostream& out_;
  std::ostream& err_;
  bool live_;
  bool drawn_ = false;
  std::map<int, PortRun> ports_;  // by slot
  std::chrono::steady_clock::time_point lastDraw_{};
};

// The live line: one bracket per port ("[ttyACM3  42%] ").
std::string ProgressLine(const std::map<int, PortRun>& ports);

}  // namespace mirk3
