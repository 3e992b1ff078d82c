#include "devsim/request_trace.h"

#include <cerrno>
#include <cstring>

#include "base/text.h"

namespace mirk3::devsim {

RequestTrace::~RequestTrace() {
  if (file_) std::fclose(file_);
}

bool RequestTrace::OpenFile(const std::string& path, std::string* error) {
  std::lock_guard lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = std::fopen(path.c_str(), "we");
  if (!file_ && error) *error = Format("cannot create %s: %s", path.c_str(), std::strerror(errno));
  return file_ != nullptr;
}

void RequestTrace::Add(const RequestPacket& request) {
  std::string line = Line(request);
  std::lock_guard lock(mutex_);
  if (file_) {
    std::fprintf(file_, "%s\n", line.c_str());
    std::fflush(file_);  // readers follow the file while the phone runs
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
