#include "packages/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace mirk3 {

bool FileByteSource::Open(const std::string& path) {
  OpenedFile file = OpenRegularFile(path);
  fd_ = std::move(file.fd);
  length_ = file.size;
  openError_ = std::move(file.error);
  if (!fd_) errno = file.errorNumber;
  return fd_.Valid();
}

size_t FileByteSource::ReadAt(uint64_t position, void* out, size_t length) const {
  const ssize_t got = ReadFullyAt(fd_.Get(), out, length, position);
  return got < 0 ? 0 : static_cast<size_t>(got);
}

size_t MemoryByteSource::ReadAt(uint64_t position, void* out, size_t length) const {
  if (position >= bytes_.size()) return 0;
  const size_t count = std::min<uint64_t>(length, bytes_.size() - position);
  std::memcpy(out, bytes_.data() + position, count);
  return count;
}

}  // namespace mirk3
