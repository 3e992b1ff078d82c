// A bounds-checked walk over the members of a tar archive as the station reads it: 512-byte
// headers whose name (bytes 0-99, up to the first NUL), octal size (bytes 124-135) and type
// flag (byte 156) are the fields read, each entry's data padded to whole blocks. The file
// analysis, the meta-data check and the package tools all walk packages with TarWalk.
//
// Only regular files are members. Directories, links, devices and pax extended headers that
// set only what the station never reads (times, owners) are passed over. An entry that would
// change what the station reads for the members after it (a pax header that sets a path or a
// size, a GNU long name) refuses the archive, since the station takes names and sizes from the
// ustar header alone.
//
// A header whose name has no NUL (unless the walk takes names that fill their field), a size
// that is not octal, a header cut short by the end of the source, an entry whose data run past
// it, or a refused entry stops the walk as broken, with the reason in words an operator can
// act on, naming the member or the offset; the walk never reads outside its bounds and never
// loops.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "packages/byte_source.h"

namespace mirk3 {

inline constexpr size_t TAR_BLOCK_SIZE = 512;
inline constexpr size_t TAR_NAME_SIZE = 100;
inline constexpr size_t TAR_SIZE_OFFSET = 124;
inline constexpr size_t TAR_SIZE_FIELD = 12;
inline constexpr size_t TAR_TYPE_OFFSET = 156;
inline constexpr size_t TAR_MAGIC_OFFSET = 257;
inline constexpr size_t TAR_PREFIX_OFFSET = 345;
inline constexpr size_t TAR_PREFIX_SIZE = 155;
// The records of a pax extended header are read whole to be checked; a header that sets only
// times and owners is a few hundred bytes.
inline constexpr uint64_t TAR_PAX_HEADER_LIMIT = 65536;

// Value of a tar size field: at most `field.size()` octal digits, ended early by a NUL.
// Nothing when a character before the NUL is not an octal digit.
std::optional<uint64_t> ParseTarOctal(std::string_view field);

// A member's size rounded up to whole 512-byte blocks.
inline constexpr uint64_t TarPaddedSize(uint64_t size) {
  return (size / TAR_BLOCK_SIZE + (size % TAR_BLOCK_SIZE != 0 ? 1 : 0)) * TAR_BLOCK_SIZE;
}

// What a header block describes, by its type flag (and, for old archives, its name).
enum class TarEntryKind {
  File,     // a regular file ('0', NUL, '7'): a member
  Skipped,  // not a member, and nothing of the members after it changes
  Pax,      // a pax extended header ('x', 'g'): TarPaxProblem of its records decides
  Refused,  // the archive cannot be read right from its ustar headers past this entry
};

struct TarEntryClass {
  TarEntryKind kind = TarEntryKind::File;
  // SKIPPED and PAX: what the entry is ("directory", "pax extended header", ...);
  // REFUSED: why the station cannot read on.
  std::string what;
};

// Classifies the entry the 512-byte header `block` describes; `name` is its name field's text.
TarEntryClass ClassifyTarEntry(const uint8_t* block, std::string_view name);

// Why the records of a pax extended header refuse the archive ("it sets the next member's
// path"), or "" when they set only what the station never reads (times, owners, ...).
std::string TarPaxProblem(std::string_view records);

struct TarMember {
  std::string name;
  uint64_t size = 0;
  uint64_t dataOffset = 0;  // position of the data in the source, just after the header
  std::array<uint8_t, TAR_BLOCK_SIZE> header{};  // the header block, for fields beyond these
};

enum class TarStep {
  Member,  // a member header was read
  End,     // an end-of-archive block, or the source ended exactly at a member boundary
  Broken,  // a header that cannot be read or trusted, or an archive cut short
};

// How a walk reads a name that fills the whole 100-byte name field, with no NUL to end it. The
// file analysis reads it whole, as tar writers mean it; the meta-data check takes such a header
// as damaged, so that a package holding one never verifies.
enum class TarFullName {
  Damaged,  // the header cannot be trusted: the walk breaks
  Whole,    // the field's end ends the name
};

// Reads the name field's text, up to its first NUL, into `name`; false when the field holds no
// NUL and `full` says such a header is damaged.
bool ReadTarName(const uint8_t* block, TarFullName full, std::string& name);

// Parses one 512-byte header block's name and size into `member` (its dataOffset is left
// alone); the type flag is not looked at. A name without a NUL is damaged.
TarStep ParseTarHeader(const uint8_t (&block)[TAR_BLOCK_SIZE], TarMember& member);

// Header blocks a walk has read, by their position in the package, so that a second walk over
// the same package (the meta-data check walks it, then the file analysis) needs no second read
// of them from the file.
class HeaderBlocks {
 public:
  void Keep(uint64_t position, const uint8_t* block);
  // Copies the block kept for `position`; false when there is none.
  bool Find(uint64_t position, uint8_t* block) const;
  void Clear() { blocks_.clear(); }

 private:
  std::unordered_map<uint64_t, std::array<uint8_t, TAR_BLOCK_SIZE>> blocks_;
};

// What a walk does besides finding the members.
struct TarWalkOptions {
  // Header blocks an earlier walk over the same bytes read, by position: taken from there
  // instead of being read again.
  const HeaderBlocks* known = nullptr;
  // Every header block the walk reads is kept here.
  HeaderBlocks* keep = nullptr;
  TarFullName fullNames = TarFullName::Damaged;
  // Told of every entry passed over: what it is ("directory", "pax extended header", ...) and
  // its name.
  std::function<void(const std::string& what, const std::string& name)> passedOver;
};

class TarWalk {
 public:
  // A walk from `start` to the end of the source. With `keep`, every header block read is
  // kept there.
  TarWalk(const ByteSource& source, uint64_t start, HeaderBlocks* keep = nullptr)
      : TarWalk(source, start, source.Length(), keep) {}
  // A walk over the bytes [start, end) of the source only (a One Click slot); an end beyond
  // the source is the source's end.
  TarWalk(const ByteSource& source, uint64_t start, uint64_t end, HeaderBlocks* keep)
      : source_(source), next_(start), end_(end) {
    options_.keep = keep;
  }
  TarWalk(const ByteSource& source, uint64_t start, uint64_t end, TarWalkOptions options)
      : source_(source), next_(start), end_(end), options_(std::move(options)) {}

  // Reads the header of the next member, passing over entries that are not members. A
  // MEMBER lies wholly inside the bounds, padding included; after BROKEN or END every further
  // call returns the same.
  TarStep Next(TarMember& member);
  // Why the walk broke, naming the member or the offset; empty unless it did.
  const std::string& Problem() const { return problem_; }

 private:
  TarStep Broken(std::string problem);
  bool ReadHeader(uint8_t* block);
  // What to do with the entry just read: MEMBER, BROKEN, or nothing to pass over it.
  std::optional<TarStep> Classify(TarMember& member);

  const ByteSource& source_;
  uint64_t next_;
  uint64_t end_;
  TarWalkOptions options_;
  std::optional<TarStep> finished_;
  std::string problem_;
};

}  // namespace mirk3
