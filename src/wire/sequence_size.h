// How much of a member one sequence carries. The phone layout's sequences are sized by the
// storage kind of the member's partition (word 1 of its partition entry); a modem package's
// are always 100 MiB. The length announced for a sequence is rounded up to SEQUENCE_ALIGN.
#pragma once

#include <array>
#include <cstdint>

namespace mirk3 {

inline constexpr uint32_t MIB = 1u << 20;

// Storage kinds with a sequence size. Kinds not named here (3, 4, 5 and above 8) have none.
inline constexpr uint32_t STORAGE_KIND_COMPUTED = 0;  // sized from the partition's blocks
inline constexpr uint32_t STORAGE_KIND_BULK_1 = 1;
inline constexpr uint32_t STORAGE_KIND_BULK_2 = 2;
inline constexpr uint32_t STORAGE_KIND_MEDIUM = 6;
inline constexpr uint32_t STORAGE_KIND_SMALL = 7;
inline constexpr uint32_t STORAGE_KIND_BULK_8 = 8;

struct StorageSequence {
  uint32_t storageKind;
  uint32_t sequenceSize;  // bytes
};
inline constexpr std::array<StorageSequence, 5> FIXED_SEQUENCE_SIZES = {{
    {STORAGE_KIND_BULK_1, 30 * MIB},
    {STORAGE_KIND_BULK_2, 30 * MIB},
    {STORAGE_KIND_BULK_8, 30 * MIB},
    {STORAGE_KIND_MEDIUM, 4 * MIB},
    {STORAGE_KIND_SMALL, 1 * MIB},
}};

// The computed kind: blockParam counts blocks in groups of COMPUTED_GROUP_BLOCKS; partitions
// whose attributes are COMPUTED_SPARE_ATTRIBUTES carry COMPUTED_SPARE_BLOCKS more per group; a
// sequence takes COMPUTED_BUDGET_GROUPS / groups times the blocks, each COMPUTED_BLOCK_BYTES.
// All in 32-bit unsigned arithmetic, as the boot loader computes it.
inline constexpr uint32_t COMPUTED_GROUP_BLOCKS = 128;
inline constexpr uint32_t COMPUTED_SPARE_ATTRIBUTES = 1;
inline constexpr uint32_t COMPUTED_SPARE_BLOCKS = 4;
inline constexpr uint32_t COMPUTED_BLOCK_BYTES = 1024;
inline constexpr uint32_t COMPUTED_BUDGET_GROUPS = 800;

inline constexpr uint32_t MODEM_SEQUENCE_SIZE = 100 * MIB;
inline constexpr uint32_t SEQUENCE_ALIGN = 131072;

// The phone layout's sequence size for a partition; 0 when its kind gives no usable size
// (a kind without one, or the computed kind with fewer blocks than one group).
constexpr uint32_t PhoneSequenceSize(uint32_t storageKind, uint32_t attributes,
                                     uint32_t blockParam) {
  if (storageKind == STORAGE_KIND_COMPUTED) {
    const uint32_t groups = blockParam / COMPUTED_GROUP_BLOCKS;
    if (groups == 0) return 0;
    const uint32_t spare = attributes == COMPUTED_SPARE_ATTRIBUTES ? COMPUTED_SPARE_BLOCKS : 0;
    const uint32_t blocks = blockParam + spare * groups;
    return (blocks * COMPUTED_BLOCK_BYTES) * (COMPUTED_BUDGET_GROUPS / groups);
  }
  for (const StorageSequence& fixed : FIXED_SEQUENCE_SIZES) {
    if (fixed.storageKind == storageKind) return fixed.sequenceSize;
  }
  return 0;
}

// The length announced for a sequence of `length` bytes: rounded up to SEQUENCE_ALIGN.
constexpr uint32_t AnnouncedSequenceLength(uint32_t length) {
  return static_cast<uint32_t>((uint64_t{length} + SEQUENCE_ALIGN - 1) &
                               ~uint64_t{SEQUENCE_ALIGN - 1});
}

static_assert(30 * MIB == 31457280 && 100 * MIB == 104857600);
static_assert(PhoneSequenceSize(STORAGE_KIND_COMPUTED, 0, 2048) == 2048u * 1024 * 50);
static_assert(PhoneSequenceSize(STORAGE_KIND_COMPUTED, 1, 2048) == 2112u * 1024 * 50);
static_assert(MODEM_SEQUENCE_SIZE % SEQUENCE_ALIGN == 0);

}  // namespace mirk3
