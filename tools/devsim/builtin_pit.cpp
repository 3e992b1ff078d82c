#include "devsim/builtin_pit.h"

#include "wire/sequence_size.h"

namespace mirk3::devsim {
namespace {

struct Row {
  uint32_t entryKind;
  uint32_t storageKind;
  int32_t id;
  uint32_t blocks;  // size in 512-byte blocks, kept in word 4 for a reader's benefit
  const char* partition;
  const char* file;
};

// The main flash is written in 30 MiB sequences; the small parameter areas in 4 MiB and 1 MiB.
constexpr uint32_t kFlash = STORAGE_KIND_BULK_2;
constexpr Row kRows[] = {
    {0, kFlash, 80, 8192, "BOOTLOADER", "loader.bin"},
    {0, STORAGE_KIND_SMALL, 81, 16384, "PARAM", "param.bin"},
    {0, kFlash, 5, 131072, "BOOT", "boot.img"},
    {0, kFlash, 6, 131072, "RECOVERY", "recovery.img"},
    {0, kFlash, 20, 12582912, "SYSTEM", "system.img"},
    {0, kFlash, 21, 2097152, "VENDOR", "vendor.img"},
    {0, kFlash, 22, 614400, "CACHE", "cache.img"},
    {0, kFlash, 23, 52428800, "USERDATA", "userdata.img"},
    {1, kFlash, 10, 204800, "RADIO", "modem.bin"},
    {0, STORAGE_KIND_MEDIUM, 3, 40960, "EFS", "efs.img"},
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
