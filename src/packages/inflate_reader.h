// The inflating reader of One Click programs. A member of a compressed slot is stored as one
// zlib stream (zlib wrapper, 32 KiB window); the transfer reads it back through this reader in
// the exact counts it sends. The reader takes 16 KiB of compressed input at a time and inflates
// straight into the caller's packet buffer, so a member of any size passes in constant memory.
//
// The reader never hands out a byte it did not inflate: a damaged stream, a stream that ends
// before the member's inflated size, stored bytes that run out or cannot be read, and a request
// for more than the member holds all make ReadExact return false with a text for the log. The
// read that completes the member also checks the end of the stream (its Adler-32 check value,
// no further output, no stored bytes left over), so damage that only the check value reveals
// fails the member before its last bytes are sent.
#pragma once

#include <zlib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "packages/member_stream.h"

namespace mirk3 {

class CInflateReader : public ByteStream {
 public:
  static constexpr size_t INPUT_CHUNK = 16384;

  CInflateReader() = default;
  ~CInflateReader() override;
  CInflateReader(const CInflateReader&) = delete;
  CInflateReader& operator=(const CInflateReader&) = delete;

  // Sets the reader up for one member whose `storedSize` compressed bytes start at
  // `dataOffset` of `fd` (read at their positions, so the file position is neither used nor moved)
  // and inflate to `inflatedSize` bytes. Ends any member begun before. False when the decoder
  // cannot be set up; every later ReadExact then fails too. A member stored as 0 bytes is an empty
  // member: it holds no stream and inflates to nothing.
  bool Begin(int fd, uint64_t dataOffset, uint64_t storedSize, uint64_t inflatedSize);

  // Fills `buffer` with the next `count` inflated bytes of the member. After a false result the
  // buffer holds nothing that may be sent, and every later call fails as well.
  bool ReadExact(void* buffer, size_t count) override;

  // Releases the decoder. True only when the whole member was read and its stream ended
  // exactly at the member's inflated size with every stored byte used; false after any failure
  // or when the member was not read to its end (FailureText then says why).
  bool Finish() override;

  std::string FailureText() const override { return failure_; }

  // Reads of compressed input made for the current member (one per 16 KiB or less).
  uint64_t SourceReads() const { return sourceReads_; }

 private:
  bool FillInput();
  // Runs the decoder into `out`; false (with the failure recorded) on any fault.
  bool Inflate(uint8_t* out, size_t count, size_t* produced);
  bool CheckStreamEnd();
  void EndDecoder();
  bool Fail(std::string text);

  z_stream stream_{};
  bool begun_ = false;        // a member was begun and not finished
  bool decoding_ = false;     // the decoder is set up and not ended
  bool streamEnded_ = false;  // inflate reported the end of the stream
  bool complete_ = false;     // the member was read whole and its stream ended right
  int fd_ = -1;
  uint64_t nextOffset_ = 0;  // where the next compressed chunk is read
  uint64_t storedSize_ = 0;
  uint64_t storedLeft_ = 0;  // compressed bytes not yet read from the file
  uint64_t inflatedSize_ = 0;
  uint64_t inflatedLeft_ = 0;
  uint64_t sourceReads_ = 0;
  std::string failure_;
  std::array<uint8_t, INPUT_CHUNK> input_{};
};

}  // namespace mirk3
