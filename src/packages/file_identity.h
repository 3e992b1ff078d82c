// What tells one state of a package file from another without reading it: the device and inode
// it lives on, its size, and the times its data and its status last changed, to the
// nanosecond. A file written again in place, renamed over, or touched has another identity,
// so a result kept for the old one is never taken for the new.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>

namespace mirk3 {

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedSeconds = 0;
  int64_t modifiedNanoseconds = 0;
  // A program can set the modification time back; the status change time it cannot.
  int64_t changedSeconds = 0;
  int64_t changedNanoseconds = 0;

  auto operator<=>(const FileIdentity&) const = default;
};

// The identity of the file open on `fd`; nothing when fstat fails.
std::optional<FileIdentity> IdentityOf(int fd);

}  // namespace mirk3
