#include "packages/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace mirk3 {

bool FileByteSource::Open(const std::string& path) {
  Result<OpenedFile> file = OpenRegularFile(path);
  if (!file) {
    fd_.Reset();
    length_ = 0;
    openError_ = file.error().text;
    errno = file.error().errorNumber;
    return false;
  }
  fd_ = std::move(file->fd);
  length_ = file->size;
  openError_.clear();
  return true;
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
