#include "devsim/request_trace.h"

#include <cerrno>
#include <cstring>

namespace mirk3::devsim {

RequestTrace::~RequestTrace() {
  if (file_) std::fclose(file_);
}

bool RequestTrace::OpenFile(const std::string& path, std::string* error) {
  std::lock_guard lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = std::fopen(path.c_str(), "we");
  if (!file_ && error) *error = "cannot create " + path + ": " + std::strerror(errno);
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
  std::string line = std::to_string(request.type) + "/" + std::to_string(request.subType);
  for (const int32_t word : request.words) line += " " + std::to_string(word);
  return line;
}

}  // namespace mirk3::devsim
