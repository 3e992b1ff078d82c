#include "devsim/request_trace.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "base/text.h"

namespace mirk3::devsim {

bool RequestTrace::OpenFile(const std::string& path, std::string* error) {
  std::lock_guard lock(mutex_);
  file_.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666));
  if (!file_ && error) *error = Format("cannot create %s: %s", path.c_str(), std::strerror(errno));
  return file_.Valid();
}

void RequestTrace::Add(const RequestPacket& request) {
  std::string line = Line(request);
  std::lock_guard lock(mutex_);
  if (file_) {
    // Readers follow the file while the phone runs: each line goes out as it arrives.
    const std::string written = line + '\n';
    WriteFully(file_.Get(), written.data(), written.size());
  }
  lines_.push_back(std::move(line));
}

std::vector<std::string> RequestTrace::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::string RequestTrace::Line(const RequestPacket& request) {
  const auto& w = request.words;
  return Format("%d/%d %d %d %d %d %d %d %d %d", request.type, request.subType, w[0], w[1], w[2],
                w[3], w[4], w[5], w[6], w[7]);
}

}  // namespace mirk3::devsim
