// Reads a member stream ahead on a helper thread, one packet-sized piece at a time, so that the
// next packet of a compressed member is inflated while the current one is on the wire: sending
// then costs about as much as sending the member uncompressed, as long as inflating is faster
// than the line. Memory stays constant: at most two pieces are held.
//
// The helper never asks the inner stream for more than the member's length, and hands out only
// pieces the inner stream produced whole. When the inner stream fails, every piece read before
// the failure is still handed out, and the read that reaches the failed piece returns false
// with the inner stream's text. The inner stream belongs to the helper from construction until
// Finish (or destruction); the owner calls the inner stream's own Finish after that.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "packages/member_stream.h"

namespace mirk3 {

class CReadAheadStream : public CByteStream {
 public:
  // Reads `length` bytes of `inner` in pieces of `piece` bytes (the packet size).
  CReadAheadStream(CByteStream& inner, uint64_t length, size_t piece);
  // Stops the helper (at the end of the piece it is reading) and waits for it.
  ~CReadAheadStream() override;
  CReadAheadStream(const CReadAheadStream&) = delete;
  CReadAheadStream& operator=(const CReadAheadStream&) = delete;

  bool ReadExact(void* buffer, size_t count) override;
  std::string FailureText() const override { return failure_; }

  // Waits for the helper. True when every byte of the member was handed out and nothing failed.
  bool Finish();

 private:
  struct Piece {
    std::vector<uint8_t> bytes;
    size_t filled = 0;  // 0: free for the helper
  };

  void ReadPieces();
  void Stop();
  bool Fail(std::string text);

  CByteStream& inner_;
  const uint64_t length_;
  const size_t pieceSize_;
  Piece pieces_[2];

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;     // guarded by mutex_
  bool innerFailed_ = false;  // guarded by mutex_
  std::string innerFailure_;  // guarded by mutex_

  // The caller's side.
  size_t current_ = 0;  // the piece being handed out
  size_t offset_ = 0;   // bytes of it handed out
  uint64_t handedOut_ = 0;
  std::string failure_;
  std::thread helper_;
};

}  // namespace mirk3
