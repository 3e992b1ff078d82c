// The requests one emulated phone received, one line each: "type/sub-type" and the eight
// words in decimal, for example "102/3 0 31457280 0 2 7 0 0 0". Kept in memory for readers
// on any thread and, when asked, appended to a file line by line as the requests arrive.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/file.h"
#include "wire/request_packet.h"

namespace mirk3::devsim {

class RequestTrace {
 public:
  RequestTrace() = default;
  RequestTrace(const RequestTrace&) = delete;
  RequestTrace& operator=(const RequestTrace&) = delete;

  // Starts the file afresh; false when it cannot be created.
  bool OpenFile(const std::string& path, std::string* error);
  void Add(const RequestPacket& request);
  std::vector<std::string> Lines() const;

  static std::string Line(const RequestPacket& request);

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  UniqueFd file_;  // the trace file, written a line at a time
};

}  // namespace mirk3::devsim
