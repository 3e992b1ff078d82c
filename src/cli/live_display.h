// The headless station's live picture of a run on a terminal: a frame redrawn in place on
// standard error that always fits the terminal, and the summary table left on screen when the
// run ends. The rendering is pure (ports, size and clock in, lines out) so that it can be
// checked line by line; LiveDisplay only moves the cursor and paces the redraws.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "station/port_run.h"

namespace mirk3 {

// One frame of at most `height` lines of at most `width` characters: a header with the counts,
// then a row per port (slot, port, USB path, step, percent, MB/s, time left) when they fit, or
// else a grid of short cells. A failing port always shows FAIL; when not even the grid fits,
// the failing ports come first and a "+N more" cell ends the frame.
std::vector<std::string> RenderLive(const std::vector<PortRun>& ports, int width, int height,
                                    std::chrono::steady_clock::time_point now);

// The run's final table, every line at most `width` characters: slot, port, USB path, model,
// result, reason (cut to fit) and time, after a header with the counts.
std::vector<std::string> RenderSummary(const std::vector<PortRun>& ports, int width);

struct TerminalSize {
  int columns = 80;
  int rows = 24;
};

// The size of the terminal behind `fd`; 80x24 when it is no terminal or says nothing.
TerminalSize ReadTerminalSize(int fd);

// Draws frames on a terminal stream, each over the previous one. Used from one thread only
// (the station's main thread, where the reports arrive).
class LiveDisplay {
 public:
  // Frames go to `out`; the size is read from the terminal `fd` at every frame, so that a
  // resized window gets frames of its new size.
  LiveDisplay(std::ostream& out, int fd);

  // Redraws unless the last frame is less than a fifth of a second old; `force` redraws anyway
  // (a port passed or failed). The first frame after a Clear is never held back.
  void Update(const std::vector<PortRun>& ports, std::chrono::steady_clock::time_point now,
              bool force = false);
  // Takes the frame off the screen, so that a log line written next to the same terminal does
  // not land inside it. The next Update draws it again below that line.
  void Clear();
  // Replaces the frame by the run's summary table, which stays.
  void Finish(const std::vector<PortRun>& ports);

 private:
  void Draw(const std::vector<std::string>& lines);

  std::ostream& out_;
  int fd_;
  int drawnLines_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace mirk3
