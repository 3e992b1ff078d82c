// A source of member bytes that is read front to back, such as the inflating reader of
// compressed members. The transfer asks for exact counts and stops at the first failure, so
// that no byte the source did not really produce is ever sent.
#pragma once

#include <cstddef>
#include <string>

namespace mirk3 {

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Fills `buffer` with exactly `count` bytes; false when the source cannot.
  virtual bool ReadExact(void* buffer, size_t count) = 0;
  // Ends the member: true only when it was read whole and nothing was wrong with it.
  virtual bool Finish() = 0;
  // Why the last ReadExact or Finish failed, for the operator's log.
  virtual std::string FailureText() const = 0;
};

}  // namespace mirk3
