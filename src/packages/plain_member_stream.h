// Member bytes read as they are stored, for the uncompressed slots of a One Click program (plain
// tar, tar with MD5 trailer). The transfer sends every One Click slot through a byte stream, so
// these members pass through the same checks as inflated ones: a read past the member or past
// the end of the file fails instead of sending bytes the package does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "packages/member_stream.h"

namespace mirk3 {

class PlainMemberStream : public ByteStream {
 public:
  PlainMemberStream() = default;
  PlainMemberStream(int fd, uint64_t offset, uint64_t size) { Begin(fd, offset, size); }

  // Sets the stream up for the `size` bytes at `offset` of `fd`, read at their positions
  // (the file position is neither used nor moved).
  void Begin(int fd, uint64_t offset, uint64_t size);

  // The next `count` bytes of the member; false when they lie past the member, the file ends
  // first or cannot be read. After a false result every later call fails as well.
  bool ReadExact(void* buffer, size_t count) override;

  // True when every byte of the member was read and nothing failed.
  bool Finish() override;

  std::string FailureText() const override { return failure_; }

 private:
  bool Fail(std::string text);

  int fd_ = -1;
  uint64_t next_ = 0;
  uint64_t size_ = 0;
  uint64_t left_ = 0;
  std::string failure_;
};

}  // namespace mirk3
