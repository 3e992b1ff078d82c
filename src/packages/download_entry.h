// The record the package subsystem and the download engine share for one package member to
// send: file analysis creates it from the member's tar header, the partition-table step fills
// in the fields of the partition it belongs to, and file transmission sends it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mirk3 {

inline constexpr int32_t PARTITION_UNMATCHED = INT32_MIN;  // 0x80000000
inline constexpr size_t ENTRY_NAME_SIZE = 32;

struct DownloadEntry {
  uint32_t entryKind = 0;
  uint32_t storageKind = 0;
  int32_t partitionId = PARTITION_UNMATCHED;  // negative: not matched to a partition yet
  uint32_t attributes = 0;
  uint32_t blockParam = 0;
  uint32_t word6 = 0;
  uint64_t dataOffset = 0;    // position of the member's data, just after its 512-byte header
  uint64_t size = 0;          // size field of the member's header
  uint64_t inflatedSize = 0;  // compressed slots only: the member's size once inflated
  char partitionName[ENTRY_NAME_SIZE] = {};
  char fileName[ENTRY_NAME_SIZE] = {};  // member name, at most 31 bytes and a NUL
  char auxName[ENTRY_NAME_SIZE] = {};

  bool Matched() const { return partitionId >= 0; }
};

}  // namespace mirk3
