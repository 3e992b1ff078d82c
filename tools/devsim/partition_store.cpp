#include "devsim/partition_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace mirk3::devsim {
namespace {

// An unnamed file where the filesystem offers them, else a named one removed at once.
int OpenSpool(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string name = dir + "/.spool-XXXXXX";
  const int named = ::mkostemp(name.data(), O_CLOEXEC);
  if (named >= 0) ::unlink(name.c_str());
  return named;
}

bool WriteAllAt(int fd, const uint8_t* data, size_t size, uint64_t offset) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

}  // namespace

PartitionStore::~PartitionStore() {
  if (spool_ >= 0) ::close(spool_);
}

bool PartitionStore::Prepare(std::string* error) {
  if (!Keeping()) return true;
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  spool_ = ec ? -1 : OpenSpool(dir_);
  if (spool_ < 0) *error = "cannot write in " + dir_ + (ec ? ": " + ec.message() : "");
  return spool_ >= 0;
}

void PartitionStore::BeginSequence() {
  // Only to give the space back: the next sequence overwrites from the start anyway.
  if (spool_ >= 0 && spooled_ > 0 && ::ftruncate(spool_, 0) != 0) spooled_ = 0;
  spooled_ = 0;
}

bool PartitionStore::Append(const uint8_t* data, size_t size) {
  if (spool_ < 0) return true;
  if (!WriteAllAt(spool_, data, size, spooled_)) return false;
  spooled_ += size;
  return true;
}

std::string PartitionStore::FilePath(int32_t partitionId, std::string_view partitionName) const {
  std::string name(partitionName);
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  if (name.empty() || name == "." || name == "..") {
    name = "partition-" + std::to_string(partitionId);
  }
  return dir_ + "/" + name;
}

bool PartitionStore::Commit(int32_t partitionId, std::string_view partitionName, uint64_t length,
                            bool last) {
  const auto open = offsets_.find(partitionId);
  const uint64_t offset = open == offsets_.end() ? 0 : open->second;
  if (last) {
    offsets_.erase(partitionId);
  } else {
    offsets_[partitionId] = offset + length;
  }
  if (!Keeping()) return true;
  const std::string path = FilePath(partitionId, partitionName);
  // The first sequence of a partition replaces what an earlier flash left there.
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (offset == 0 ? O_TRUNC : 0);
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) return false;
  const bool copied = length <= spooled_ && CopySpool(fd, length, offset);
  return ::close(fd) == 0 && copied;
}

bool PartitionStore::CopySpool(int to, uint64_t length, uint64_t offset) {
  off64_t in = 0;
  off64_t out = static_cast<off64_t>(offset);
  while (static_cast<uint64_t>(in) < length) {
    const ssize_t n = ::copy_file_range(spool_, &in, to, &out,
                                        static_cast<size_t>(length - static_cast<uint64_t>(in)), 0);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    break;  // not offered between these files: copy by hand below
  }
  if (static_cast<uint64_t>(in) == length) return true;
  std::vector<uint8_t> buffer(1 << 20);
  while (static_cast<uint64_t>(in) < length) {
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(buffer.size(), length - static_cast<uint64_t>(in)));
    const ssize_t n = ::pread(spool_, buffer.data(), want, in);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (!WriteAllAt(to, buffer.data(), static_cast<size_t>(n), static_cast<uint64_t>(out))) {
      return false;
    }
    in += n;
    out += n;
  }
  return true;
}

}  // namespace mirk3::devsim
