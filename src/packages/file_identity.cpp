#include "packages/file_identity.h"

#include <sys/stat.h>

namespace mirk3 {

std::optional<FileIdentity> IdentityOf(int fd) {
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) return std::nullopt;
  FileIdentity identity;
  identity.device = static_cast<uint64_t>(info.st_dev);
  identity.inode = static_cast<uint64_t>(info.st_ino);
  identity.size = static_cast<uint64_t>(info.st_size);
  identity.modifiedSeconds = static_cast<int64_t>(info.st_mtim.tv_sec);
  identity.modifiedNanoseconds = static_cast<int64_t>(info.st_mtim.tv_nsec);
  identity.changedSeconds = static_cast<int64_t>(info.st_ctim.tv_sec);
  identity.changedNanoseconds = static_cast<int64_t>(info.st_ctim.tv_nsec);
  return identity;
}

}  // namespace mirk3
