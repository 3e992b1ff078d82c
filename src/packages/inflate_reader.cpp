#include "packages/inflate_reader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "base/file.h"
#include "base/text.h"

namespace mirk3 {
namespace {

using ull = unsigned long long;

constexpr char CUT_SHORT[] = "the compressed data is cut short";

}  // namespace

CInflateReader::~CInflateReader() { EndDecoder(); }

void CInflateReader::EndDecoder() {
  if (decoding_) inflateEnd(&stream_);
  decoding_ = false;
}

bool CInflateReader::Fail(std::string text) {
  if (failure_.empty()) failure_ = std::move(text);
  return false;
}

bool CInflateReader::Begin(int fd, uint64_t dataOffset, uint64_t storedSize,
                           uint64_t inflatedSize) {
  EndDecoder();
  stream_ = z_stream{};  // zlib's own allocator, no input yet
  begun_ = true;
  streamEnded_ = false;
  complete_ = false;
  fd_ = fd;
  nextOffset_ = dataOffset;
  storedSize_ = storedLeft_ = storedSize;
  inflatedSize_ = inflatedLeft_ = inflatedSize;
  sourceReads_ = 0;
  failure_.clear();
  if (dataOffset > static_cast<uint64_t>(INT64_MAX) ||
      storedSize > static_cast<uint64_t>(INT64_MAX) - dataOffset) {
    return Fail("the member's compressed data lies beyond the end of any file");
  }
  if (storedSize == 0) return true;  // an empty member: there is no stream to decode
  const int result = inflateInit(&stream_);
  if (result != Z_OK) {
    return Fail(result == Z_MEM_ERROR ? "there is not enough memory to inflate the member"
                                      : "the decoder cannot be set up");
  }
  decoding_ = true;
  return true;
}

bool CInflateReader::FillInput() {
  const size_t want = static_cast<size_t>(std::min<uint64_t>(storedLeft_, INPUT_CHUNK));
  const ssize_t got = ReadFullyAt(fd_, input_.data(), want, nextOffset_);
  if (got < 0) {
    return Fail(Format("the member's compressed data cannot be read: %s", std::strerror(errno)));
  }
  if (static_cast<size_t>(got) < want) {
    return Fail("the package ends before the member's compressed data does");
  }
  ++sourceReads_;
  nextOffset_ += want;
  storedLeft_ -= want;
  stream_.next_in = input_.data();
  stream_.avail_in = static_cast<uInt>(want);
  return true;
}

bool CInflateReader::Inflate(uint8_t* out, size_t count, size_t* produced) {
  *produced = 0;
  if (!decoding_) return Fail(CUT_SHORT);  // an empty member has nothing to inflate
  if (stream_.avail_in == 0 && storedLeft_ > 0 && !FillInput()) return false;
  const uInt room = static_cast<uInt>(std::min<size_t>(count, UINT_MAX));
  stream_.next_out = out;
  stream_.avail_out = room;
  const int result = inflate(&stream_, Z_NO_FLUSH);
  *produced = room - stream_.avail_out;
  switch (result) {
    case Z_OK:
      return true;
    case Z_STREAM_END:
      streamEnded_ = true;
      return true;
    case Z_BUF_ERROR:
      // No progress: the decoder wants input and the stored bytes are used up. (It keeps
      // pending output between calls, so it is asked again even when no input is left.)
      if (stream_.avail_in == 0 && storedLeft_ == 0) return Fail(CUT_SHORT);
      if (stream_.avail_in == 0) return true;
      return Fail("the compressed data is damaged");
    case Z_MEM_ERROR:
      return Fail("there is not enough memory to inflate the member");
    default:  // Z_DATA_ERROR, Z_NEED_DICT (no dictionary is ever used), Z_STREAM_ERROR
      return Fail(stream_.msg ? Format("the compressed data is damaged (%s)", stream_.msg)
                              : std::string("the compressed data is damaged"));
  }
}

bool CInflateReader::ReadExact(void* buffer, size_t count) {
  if (!begun_) return Fail("no member was begun");
  if (!failure_.empty()) return false;
  if (count > inflatedLeft_) {
    return Fail(Format("asked for %zu bytes where the member has %llu left", count,
                       static_cast<ull>(inflatedLeft_)));
  }
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    if (streamEnded_) {
      return Fail(Format("the compressed data ends after %llu of the member's %llu bytes",
                         static_cast<ull>(inflatedSize_ - inflatedLeft_ + done),
                         static_cast<ull>(inflatedSize_)));
    }
    size_t produced = 0;
    if (!Inflate(out + done, count - done, &produced)) return false;
    done += produced;
  }
  inflatedLeft_ -= count;
  return inflatedLeft_ > 0 || CheckStreamEnd();
}

bool CInflateReader::CheckStreamEnd() {
  if (storedSize_ == 0) return complete_ = true;
  // Whatever the stream still holds must decode to nothing: only its end and check value.
  uint8_t scratch[64];
  while (!streamEnded_) {
    size_t produced = 0;
    if (!Inflate(scratch, sizeof scratch, &produced)) return false;
    if (produced > 0) {
      return Fail(Format("the compressed data holds more than the member's %llu bytes",
                         static_cast<ull>(inflatedSize_)));
    }
  }
  const uint64_t unused = stream_.avail_in + storedLeft_;
  if (unused > 0) {
    return Fail(Format("%llu stored bytes follow the end of the compressed data",
                       static_cast<ull>(unused)));
  }
  return complete_ = true;
}

bool CInflateReader::Finish() {
  if (!begun_) return Fail("no member was begun");
  begun_ = false;
  bool whole = complete_ && failure_.empty();
  if (!whole && failure_.empty() && inflatedLeft_ == 0) whole = CheckStreamEnd();
  if (!whole && failure_.empty()) {
    Fail(Format("the member was read to %llu of its %llu bytes only",
                static_cast<ull>(inflatedSize_ - inflatedLeft_), static_cast<ull>(inflatedSize_)));
  }
  EndDecoder();
  return whole;
}

}  // namespace mirk3
