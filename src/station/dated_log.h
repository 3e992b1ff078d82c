// A log that outlives the window: every line the station logs, appended with a time stamp to
// <dir>/mirk3-YYYY-MM-DD.log (the local date; a new file from midnight on). Each line goes to
// the file in one write with O_APPEND, whole or not at all, so a power cut or a full disk
// loses at most the line being written and two stations may share the dir.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "base/result.h"
#include "station/append_file.h"

namespace mirk3 {

using WallClock = std::function<std::chrono::system_clock::time_point()>;

// "<dir>/<prefix>YYYY-MM-DD<suffix>" for the local date of `when`.
std::string DatedFileName(const std::string& dir, const std::string& prefix,
                          const std::string& suffix, std::chrono::system_clock::time_point when);

// Creates `dir` (and its parents) when missing; fails, with why, when it is not a usable dir.
Status PrepareLogDir(const std::string& dir);

class DatedLog {
 public:
  explicit DatedLog(std::string dir, WallClock clock = std::chrono::system_clock::now);

  // Opens today's file now, so that a file that cannot take lines (a FIFO, a socket, no
  // permission) is refused at start instead of at the first line.
  Status Open();
  // Appends "YYYY-MM-DD HH:MM:SS.mmm <line>\n" to the file of today's date. Fails, with why,
  // when the file cannot be opened or written.
  Status Append(const std::string& line);
  // The file the last line went to.
  const std::string& Path() const { return file_.Path(); }

 private:
  Status OpenFor(std::chrono::system_clock::time_point when);

  std::string dir_;
  WallClock clock_;
  AppendFile file_;
};

}  // namespace mirk3
