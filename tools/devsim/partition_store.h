// Where an emulated phone writes what it receives. A sequence's data arrive before the
// end-of-sequence request says which partition they belong to, so they are spooled to an
// unnamed file first; the end-of-sequence request then copies its length to the partition's
// file at that partition's running offset. A sequence marked last closes the partition: its
// next sequence starts the file afresh. Without a directory the store keeps nothing and only
// counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "base/file.h"

namespace mirk3::devsim {

class PartitionStore {
 public:
  explicit PartitionStore(std::string dir) : dir_(std::move(dir)) {}

  bool Keeping() const { return !dir_.empty(); }
  // Creates the directory and the spool file.
  bool Prepare(std::string* error);

  // Forgets whatever the last sequence spooled.
  void BeginSequence();
  bool Append(const uint8_t* data, size_t size);
  // Writes the first `length` spooled bytes to the partition file; false on a file error.
  bool Commit(int32_t partitionId, std::string_view partitionName, uint64_t length, bool last);

  // Where a partition's file is: its name made safe for a file name, or "partition-<id>".
  std::string FilePath(int32_t partitionId, std::string_view partitionName) const;

 private:
  bool CopySpool(int to, uint64_t length, uint64_t offset);

  std::string dir_;
  UniqueFd spool_;
  uint64_t spooled_ = 0;
  std::map<int32_t, uint64_t> offsets_;  // running offset of each open partition
};

}  // namespace mirk3::devsim
