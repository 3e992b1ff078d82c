#include "devsim/partition_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "base/file.h"

namespace mirk3::devsim {
namespace {

// An unnamed file where the filesystem offers them, else a named one removed at once.
UniqueFd OpenSpool(const std::string& dir) {
  UniqueFd fd(::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd) return fd;
  std::string name = dir + "/.spool-XXXXXX";
  fd.Reset(::mkostemp(name.data(), O_CLOEXEC));
  if (fd) ::unlink(name.c_str());
  return fd;
}

}  // namespace

bool PartitionStore::Prepare(std::string* error) {
  if (!Keeping()) return true;
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (!ec) spool_ = OpenSpool(dir_);
  if (!spool_) *error = "cannot write in " + dir_ + (ec ? ": " + ec.message() : "");
  return spool_.Valid();
}

void PartitionStore::BeginSequence() {
  // Only to give the space back: the next sequence overwrites from the start anyway.
  if (spool_ && spooled_ > 0 && ::ftruncate(spool_.Get(), 0) != 0) spooled_ = 0;
  spooled_ = 0;
}

bool PartitionStore::Append(const uint8_t* data, size_t size) {
  if (!spool_) return true;
  if (!WriteFullyAt(spool_.Get(), data, size, spooled_)) return false;
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
  UniqueFd partition(::open(path.c_str(), flags, 0644));
  if (!partition) return false;
  const bool copied = length <= spooled_ && CopySpool(partition.Get(), length, offset);
  return partition.Close() && copied;
}

bool PartitionStore::CopySpool(int to, uint64_t length, uint64_t offset) {
  off64_t in = 0;
  off64_t out = static_cast<off64_t>(offset);
  while (static_cast<uint64_t>(in) < length) {
    const ssize_t n = ::copy_file_range(spool_.Get(), &in, to, &out,
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
    if (!ReadExactAt(spool_.Get(), buffer.data(), want, static_cast<uint64_t>(in)) ||
        !WriteFullyAt(to, buffer.data(), want, static_cast<uint64_t>(out))) {
      return false;
    }
    in += static_cast<off64_t>(want);
    out += static_cast<off64_t>(want);
  }
  return true;
}

}  // namespace mirk3::devsim
