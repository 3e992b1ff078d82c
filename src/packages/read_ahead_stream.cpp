#include "packages/read_ahead_stream.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"

namespace mirk3 {

CReadAheadStream::CReadAheadStream(CByteStream& inner, uint64_t length, size_t piece)
    : inner_(inner), length_(length), pieceSize_(std::max<size_t>(piece, 1)) {
  if (length_ == 0) return;
  const size_t size = static_cast<size_t>(std::min<uint64_t>(pieceSize_, length_));
  for (Piece& p : pieces_) p.bytes.resize(size);
  helper_ = std::thread([this] { ReadPieces(); });
}

CReadAheadStream::~CReadAheadStream() { Stop(); }

void CReadAheadStream::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (helper_.joinable()) helper_.join();
}

void CReadAheadStream::ReadPieces() {
  size_t index = 0;
  for (uint64_t done = 0; done < length_; index ^= 1) {
    Piece& piece = pieces_[index];
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || piece.filled == 0; });
      if (stopping_) return;
    }
    // The caller touches a piece only once it is filled, so it is read here without the lock.
    const size_t n = static_cast<size_t>(std::min<uint64_t>(pieceSize_, length_ - done));
    const bool ok = inner_.ReadExact(piece.bytes.data(), n);
    {
      std::lock_guard lock(mutex_);
      if (ok) {
        piece.filled = n;
      } else {
        innerFailed_ = true;
        innerFailure_ = inner_.FailureText();
      }
    }
    changed_.notify_all();
    if (!ok) return;
    done += n;
  }
}

bool CReadAheadStream::Fail(std::string text) {
  if (failure_.empty()) failure_ = std::move(text);
  return false;
}

bool CReadAheadStream::ReadExact(void* buffer, size_t count) {
  if (!failure_.empty()) return false;
  if (count > length_ - handedOut_) {
    return Fail(Format("asked for %zu bytes where the member has %llu left", count,
                       static_cast<unsigned long long>(length_ - handedOut_)));
  }
  auto* out = static_cast<uint8_t*>(buffer);
  for (size_t copied = 0; copied < count;) {
    Piece& piece = pieces_[current_];
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return piece.filled > 0 || innerFailed_; });
      if (piece.filled == 0) return Fail(innerFailure_);
    }
    // The helper leaves a filled piece alone until it is handed back below.
    const size_t n = std::min(count - copied, piece.filled - offset_);
    std::memcpy(out + copied, piece.bytes.data() + offset_, n);
    copied += n;
    offset_ += n;
    if (offset_ == piece.filled) {
      {
        std::lock_guard lock(mutex_);
        piece.filled = 0;
      }
      changed_.notify_all();
      offset_ = 0;
      current_ ^= 1;
    }
  }
  handedOut_ += count;
  return true;
}

bool CReadAheadStream::Finish() {
  Stop();
  if (failure_.empty() && handedOut_ < length_) {
    Fail(Format("the member was read to %llu of its %llu bytes only",
                static_cast<unsigned long long>(handedOut_),
                static_cast<unsigned long long>(length_)));
  }
  return failure_.empty();
}

}  // namespace mirk3
