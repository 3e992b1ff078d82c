// A partition-table entry with a distinct value in every field, for tests of the table's
// records and of the files that hold tables.
#pragma once

#include <cstdint>

#include "wire/pit_record.h"

namespace mirk3::test {

inline PitEntry SamplePitEntry(int32_t id, const char* file) {
  PitEntry entry;
  entry.entryKind = 1;
  entry.storageKind = 2;
  entry.partitionId = id;
  entry.attributes = 5;
  entry.word4 = 0x44444444;
  entry.blockParam = 2048;
  entry.word6 = 0x66666666;
  entry.word7 = 7;
  entry.word8 = 8;
  entry.SetPartitionName("SYSTEM");
  entry.SetFileName(file);
  entry.SetAuxName("aux");
  return entry;
}

}  // namespace mirk3::test
