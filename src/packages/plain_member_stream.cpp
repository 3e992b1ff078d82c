#include "packages/plain_member_stream.h"

#include <cerrno>
#include <cstring>

#include "base/file.h"
#include "base/text.h"

namespace mirk3 {
namespace {

using ull = unsigned long long;

}  // namespace

void PlainMemberStream::Begin(int fd, uint64_t offset, uint64_t size) {
  fd_ = fd;
  next_ = offset;
  size_ = left_ = size;
  failure_.clear();
  if (offset > static_cast<uint64_t>(INT64_MAX) ||
      size > static_cast<uint64_t>(INT64_MAX) - offset) {
    Fail("the member lies beyond the end of any file");
  }
}

bool PlainMemberStream::Fail(std::string text) {
  if (failure_.empty()) failure_ = std::move(text);
  return false;
}

bool PlainMemberStream::ReadExact(void* buffer, size_t count) {
  if (!failure_.empty()) return false;
  if (count > left_) {
    return Fail(Format("asked for %zu bytes where the member has %llu left", count,
                       static_cast<ull>(left_)));
  }
  const ssize_t got = ReadFullyAt(fd_, buffer, count, next_);
  if (got < 0) return Fail(Format("the member cannot be read: %s", std::strerror(errno)));
  if (static_cast<size_t>(got) < count) {
    return Fail(Format("the package ends %llu bytes before the member does",
                       static_cast<ull>(left_ - static_cast<uint64_t>(got))));
  }
  next_ += count;
  left_ -= count;
  return true;
}

bool PlainMemberStream::Finish() {
  if (failure_.empty() && left_ > 0) {
    Fail(Format("the member was read to %llu of its %llu bytes only",
                static_cast<ull>(size_ - left_), static_cast<ull>(size_)));
  }
  return failure_.empty();
}

}  // namespace mirk3
