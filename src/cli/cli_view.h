// The headless station's face: log lines on standard output, exactly as the window writes
// them, operator messages on standard error, and on a terminal the live display of the run's
// ports on standard error, left as a summary table when the run ends.
#pragma once

#include <map>
#include <memory>
#include <ostream>

#include "cli/live_display.h"
#include "station/output_health.h"
#include "station/station_view.h"

namespace mirk3 {

class CliView : public StationView {
 public:
  // `terminalFd` is the terminal behind `err` for the live display; -1: no live display.
  CliView(std::ostream& out, std::ostream& err, int terminalFd);

  void AppendLog(const std::string& line) override;
  void PortRunChanged(const PortRun& run) override;
  void ShowMessage(const std::string& text, const std::string& title) override;
  // The run ended: its summary table replaces the live display, and the next run starts a
  // display of its own.
  void FinishRun();
  // A line on standard error as it is, the live display taken off first.
  void ShowError(const std::string& line);
  // Where a log line that standard output cannot take (a closed pipe) is told as a loss.
  void SetOutputHealth(OutputHealth* health) { health_ = health; }

 private:
  std::vector<PortRun> Ports() const;

  std::ostream& out_;
  std::ostream& err_;
  std::unique_ptr<LiveDisplay> live_;
  std::map<int, PortRun> ports_;  // of the current run, by slot
  OutputHealth* health_ = nullptr;
};

}  // namespace mirk3
