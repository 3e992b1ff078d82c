#include "devsim/builtin_pit.h"

namespace mirk3::devsim {
namespace {

struct Row {
  uint32_t entryKind;
  uint32_t storageKind;  // 2: the main flash, written in 30 MiB sequences
  int32_t id;
  uint32_t blocks;  // size in 512-byte blocks, kept in word 4 for a reader's benefit
  const char* partition;
  const char* file;
};

// Storage kinds 6 and 7 (4 MiB and 1 MiB sequences) are the small parameter areas.
constexpr Row kRows[] = {
    {0, 2, 80, 8192, "BOOTLOADER", "loader.bin"}, {0, 7, 81, 16384, "PARAM", "param.bin"},
    {0, 2, 5, 131072, "BOOT", "boot.img"},        {0, 2, 6, 131072, "RECOVERY", "recovery.img"},
    {0, 2, 20, 12582912, "SYSTEM", "system.img"}, {0, 2, 21, 2097152, "VENDOR", "vendor.img"},
    {0, 2, 22, 614400, "CACHE", "cache.img"},     {0, 2, 23, 52428800, "USERDATA", "userdata.img"},
    {1, 2, 10, 204800, "RADIO", "modem.bin"},     {0, 6, 3, 40960, "EFS", "efs.img"},
};

}  // namespace

PitTable BuiltinPitTable() {
  PitTable table;
  for (const Row& row : kRows) {
    PitEntry entry;
    entry.entryKind = row.entryKind;
    entry.storageKind = row.storageKind;
    entry.partitionId = row.id;
    entry.attributes = 5;  // readable and writable
    entry.word4 = row.blocks;
    entry.blockParam = 2048;
    entry.SetPartitionName(row.partition);
    entry.SetFileName(row.file);
    table.entries.push_back(entry);
  }
  return table;
}

std::vector<uint8_t> BuiltinPit() { return EncodePitTable(BuiltinPitTable()); }

}  // namespace mirk3::devsim
