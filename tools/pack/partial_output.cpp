#include "pack/partial_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/text.h"

namespace mirk3::pack {
namespace {

constexpr size_t COPY_CHUNK = 1048576;

}  // namespace

PartialOutput::~PartialOutput() { Discard(); }

void PartialOutput::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  tempPath_.clear();
}

bool PartialOutput::Fail(std::string message) {
  if (error_.empty()) error_ = std::move(message);
  Discard();
  return false;
}

bool PartialOutput::Create(const std::string& finalPath) {
  Discard();
  finalPath_ = finalPath;
  position_ = 0;
  tooLarge_ = false;
  error_.clear();
  std::string pattern = finalPath + ".partial-XXXXXX";
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) return Fail(Format("cannot create %s: %s", finalPath.c_str(), std::strerror(errno)));
  tempPath_ = pattern;
  return true;
}

bool PartialOutput::WriteAt(uint64_t position, const void* bytes, size_t count) {
  if (fd_ < 0) return Fail("no output is open");
  const auto* data = static_cast<const char*>(bytes);
  for (size_t done = 0; done < count;) {
    const ssize_t n = ::pwrite(fd_, data + done, count - done, static_cast<off_t>(position + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      return Fail(Format("cannot write %s: %s", finalPath_.c_str(),
                         n < 0 ? std::strerror(errno) : "nothing was written"));
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool PartialOutput::Write(const void* bytes, size_t count) {
  if (count > limit_ || position_ > limit_ - count) {
    tooLarge_ = true;
    return Fail(Format("%s would be larger than %llu bytes", finalPath_.c_str(),
                       static_cast<unsigned long long>(limit_)));
  }
  if (!WriteAt(position_, bytes, count)) return false;
  position_ += count;
  return true;
}

bool PartialOutput::CopyFrom(const ByteSource& source, uint64_t from, uint64_t count,
                             const std::string& sourceName) {
  const auto buffer = std::make_unique<char[]>(COPY_CHUNK);
  for (uint64_t done = 0; done < count;) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(COPY_CHUNK, count - done));
    if (!source.ReadExactly(from + done, buffer.get(), chunk)) {
      return Fail(
          Format("%s changed or could not be read while it was copied", sourceName.c_str()));
    }
    if (!Write(buffer.get(), chunk)) return false;
    done += chunk;
  }
  return true;
}

bool PartialOutput::Commit(mode_t mode) {
  if (fd_ < 0) return Fail("no output is open");
  const bool moded = ::fchmod(fd_, mode) == 0;
  const int cause = errno;
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (!moded || !closed) {
    return Fail(
        Format("cannot write %s: %s", finalPath_.c_str(), std::strerror(moded ? errno : cause)));
  }
  if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
    return Fail(Format("cannot create %s: %s", finalPath_.c_str(), std::strerror(errno)));
  }
  tempPath_.clear();
  return true;
}

}  // namespace mirk3::pack
