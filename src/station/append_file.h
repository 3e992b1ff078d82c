// An output file that lines are appended to, each line whole or not at all: the dated log and
// the results records. It opens without ever waiting (a FIFO or a socket is refused, so a pipe
// without a reader cannot hang the station) and writes each line with one write; when a full
// disk or a size limit cuts a line short, the bytes that did land are cut off again, so the
// next line never starts in the middle of a broken one.
#pragma once

#include <string>

#include "base/file.h"
#include "base/result.h"

namespace mirk3 {

class AppendFile {
 public:
  // Opens `path` for appending, creating it (mode 0644) when missing. Regular files and
  // character devices (/dev/null, /dev/full, a terminal) are taken; anything else is refused
  // with a reason naming `what` ("the results file") and the path.
  Status Open(const std::string& path, const std::string& what);
  bool IsOpen() const { return fd_.Valid(); }
  const std::string& Path() const { return path_; }
  // Appends `line` (with its line end) whole. Fails, with why, when it could not: nothing of
  // it is left in a regular file then.
  Status Append(const std::string& line);

 private:
  UniqueFd fd_;
  std::string path_;
  std::string what_;
  bool regular_ = false;
};

}  // namespace mirk3
