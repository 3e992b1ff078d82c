// A bounds-checked walk over the members of a tar archive as the meta-data check reads it:
// 512-byte headers whose name (bytes 0-99, up to the first NUL) and octal size (bytes
// 124-135) are the only fields read, each member's data padded to whole blocks. A header with
// a name that has no NUL, a size that is not octal, or a member that runs past the end of the
// source stops the walk as broken; the walk never reads outside the source and never loops.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "packages/byte_source.h"

namespace mirk3 {

inline constexpr size_t TAR_BLOCK_SIZE = 512;
inline constexpr size_t TAR_NAME_SIZE = 100;
inline constexpr size_t TAR_SIZE_OFFSET = 124;
inline constexpr size_t TAR_SIZE_FIELD = 12;

// Value of a tar size field: at most `field.size()` octal digits, ended early by a NUL.
// Nothing when a character before the NUL is not an octal digit.
std::optional<uint64_t> ParseTarOctal(std::string_view field);

// A member's size rounded up to whole 512-byte blocks.
inline constexpr uint64_t TarPaddedSize(uint64_t size) {
  return (size / TAR_BLOCK_SIZE + (size % TAR_BLOCK_SIZE != 0 ? 1 : 0)) * TAR_BLOCK_SIZE;
}

struct TarMember {
  std::string name;
  uint64_t size = 0;
  uint64_t dataOffset = 0;  // position of the data in the source, just after the header
};

enum class TarStep {
  MEMBER,  // a member header was read
  END,     // an end-of-archive block, or the source ended exactly at a member boundary
  BROKEN,  // a header that cannot be read or trusted
};

// Parses one 512-byte header block into `member` (its dataOffset is left alone).
TarStep ParseTarHeader(const uint8_t (&block)[TAR_BLOCK_SIZE], TarMember& member);

// Header blocks a walk has read, by their position in the package, so that a second walk over
// the same package (the meta-data check walks it, then the file analysis) needs no second read
// of them from the file.
class CHeaderBlocks {
 public:
  void Keep(uint64_t position, const uint8_t (&block)[TAR_BLOCK_SIZE]);
  // Copies the block kept for `position`; false when there is none.
  bool Find(uint64_t position, uint8_t* block) const;
  void Clear() { blocks_.clear(); }

 private:
  std::unordered_map<uint64_t, std::array<uint8_t, TAR_BLOCK_SIZE>> blocks_;
};

class TarWalk {
 public:
  // With `keep`, every header block read is kept there.
  TarWalk(const ByteSource& source, uint64_t start, CHeaderBlocks* keep = nullptr)
      : source_(source), next_(start), keep_(keep) {}

  // Reads the header of the next member. A MEMBER lies wholly inside the source, padding
  // included; after BROKEN or END every further call returns the same.
  TarStep Next(TarMember& member);

 private:
  const ByteSource& source_;
  uint64_t next_;
  CHeaderBlocks* keep_;
  std::optional<TarStep> finished_;
};

}  // namespace mirk3
