// What the station shows, whatever its face: the window draws slots and appends to its log
// pane; the headless station prints the log and a progress line.
#pragma once

#include <string>

namespace mirk3 {

enum class SlotState { Idle, Added, Removed, Running, Passed, Failed, Reset };

class StationView {
 public:
  virtual ~StationView() = default;
  // One finished log line, without line end.
  virtual void AppendLog(const std::string& line) = 0;
  // A slot's picture and status changed; `percent` is -1 when not known.
  virtual void ShowSlot(int slot, int port, SlotState state, int percent,
                        const std::string& status) = 0;
  // An operator error (a message box in the window).
  virtual void ShowMessage(const std::string& text) = 0;
};

}  // namespace mirk3
