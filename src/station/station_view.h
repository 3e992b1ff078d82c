// What the station shows, whatever its face: the window draws slots, controls and its log pane
// from the station's state; the headless station prints the log and a live display. The core
// tells its face what changed; the face reads the state back from the core.
#pragma once

#include <string>

#include "station/port_run.h"

namespace mirk3 {

class StationView {
 public:
  virtual ~StationView() = default;
  // One finished log line, without line end.
  virtual void AppendLog(const std::string& line) = 0;
  // Reset empties the log.
  virtual void ClearLog() {}
  // A slot's display changed (Station::Slot).
  virtual void SlotChanged(int /*slot*/) {}
  // Options, package fields, enable states, the size text or the busy state changed.
  virtual void ControlsChanged() {}
  // A port of the current run reported (progress, pass or fail).
  virtual void PortRunChanged(const PortRun& /*run*/) {}
  // An operator message (a message box in the window); `title` is the box's caption.
  virtual void ShowMessage(const std::string& text, const std::string& title = "Mirk3") = 0;
};

}  // namespace mirk3
