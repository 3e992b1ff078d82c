#include "packages/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace mirk3 {

FileByteSource::~FileByteSource() {
  if (fd_ >= 0) close(fd_);
}

bool FileByteSource::Open(const std::string& path) {
  if (fd_ >= 0) close(fd_);
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return false;
  struct stat info {};
  if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int cause = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    close(fd_);
    fd_ = -1;
    errno = cause;
    return false;
  }
  length_ = static_cast<uint64_t>(info.st_size);
  return true;
}

size_t FileByteSource::ReadAt(uint64_t position, void* out, size_t length) const {
  if (fd_ < 0) return 0;
  auto* bytes = static_cast<char*>(out);
  size_t done = 0;
  while (done < length) {
    const uint64_t at = position + done;
    if (at > static_cast<uint64_t>(INT64_MAX)) break;
    const ssize_t got = pread(fd_, bytes + done, length - done, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

size_t MemoryByteSource::ReadAt(uint64_t position, void* out, size_t length) const {
  if (position >= bytes_.size()) return 0;
  const size_t count = std::min<uint64_t>(length, bytes_.size() - position);
  std::memcpy(out, bytes_.data() + position, count);
  return count;
}

}  // namespace mirk3
