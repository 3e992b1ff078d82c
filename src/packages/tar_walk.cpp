#include "packages/tar_walk.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "base/text.h"

namespace mirk3 {
namespace {

// "ustar\0": a POSIX header, whose bytes 345-499 continue the name. The old
// GNU form ("ustar  \0") keeps other fields there.
bool IsPosixUstar(const uint8_t* block) {
  return std::memcmp(block + TAR_MAGIC_OFFSET, "ustar\0", 6) == 0;
}

std::string TypeText(uint8_t type) {
  if (type >= 0x21 && type < 0x7f) return Format("'%c'", type);
  return Format("0x%02x", type);
}

}  // namespace

std::optional<uint64_t> ParseTarOctal(std::string_view field) {
  uint64_t value = 0;
  for (const char c : field.substr(0, TAR_SIZE_FIELD)) {
    if (c == '\0') break;
    if (c < '0' || c > '7') return std::nullopt;
    value = value * 8 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

TarEntryClass ClassifyTarEntry(const uint8_t* block, std::string_view name) {
  using Kind = TarEntryKind;
  const uint8_t type = block[TAR_TYPE_OFFSET];
  switch (type) {
    case '0':
    case '\0':
    case '7':
      // Archives older than ustar mark a directory by its name alone.
      if (name.ends_with('/')) return {Kind::Skipped, "directory"};
      if (IsPosixUstar(block) && block[TAR_PREFIX_OFFSET] != 0) {
        return {Kind::Refused,
                "keeps part of its name in the ustar prefix, which the station never reads"};
      }
      return {Kind::File, ""};
    case '1':
      return {Kind::Skipped, "hard link"};
    case '2':
      return {Kind::Skipped, "symbolic link"};
    case '3':
      return {Kind::Skipped, "character device"};
    case '4':
      return {Kind::Skipped, "block device"};
    case '5':
    case 'D':  // GNU dump directory
      return {Kind::Skipped, "directory"};
    case '6':
      return {Kind::Skipped, "FIFO"};
    case 'V':
      return {Kind::Skipped, "volume label"};
    case 'x':
      return {Kind::Pax, "pax extended header"};
    case 'g':
      return {Kind::Pax, "pax global header"};
    case 'L':
      return {Kind::Refused,
              "is a GNU long name, which sets the next member's name: the station reads only "
              "ustar names"};
    case 'K':
      return {Kind::Refused,
              "is a GNU long link name, which sets the next entry's name: the station reads "
              "only ustar names"};
    case 'S':
      return {Kind::Refused, "is a GNU sparse file, whose data are not stored as they are sent"};
    case 'M':
      return {Kind::Refused, "is a GNU multi-volume part, which does not hold a whole file"};
    default:
      return {Kind::Refused,
              "has the tar type " + TypeText(type) + ", which the station does not know"};
  }
}

std::string TarPaxProblem(std::string_view records) {
  static const std::string DAMAGED = "is damaged";
  size_t at = 0;
  while (at < records.size()) {
    // Some writers fill the rest of the header with NULs.
    if (records[at] == '\0') {
      const bool rest = records.find_first_not_of('\0', at) == std::string_view::npos;
      return rest ? "" : DAMAGED;
    }
    // "<length> <key>=<value>\n", the length counting the whole record.
    size_t length = 0, digits = at;
    while (digits < records.size() && records[digits] >= '0' && records[digits] <= '9') {
      length = length * 10 + static_cast<size_t>(records[digits] - '0');
      if (length > records.size()) return DAMAGED;
      ++digits;
    }
    if (digits == at || length > records.size() - at) return DAMAGED;
    const std::string_view record = records.substr(at, length);
    const size_t space = digits - at;
    if (space >= record.size() || record[space] != ' ' || record.back() != '\n') return DAMAGED;
    const std::string_view pair = record.substr(space + 1, record.size() - space - 2);
    const size_t equals = pair.find('=');
    if (equals == std::string_view::npos || equals == 0) return DAMAGED;
    const std::string_view key = pair.substr(0, equals);
    if (key == "path") return "sets a member's path; the station reads only ustar names and sizes";
    if (key == "size") return "sets a member's size; the station reads only ustar names and sizes";
    if (key.starts_with("GNU.sparse.")) return "describes a sparse file";
    at += length;
  }
  return "";
}

bool ReadTarName(const uint8_t* block, TarFullName full, std::string& name) {
  const auto* text = reinterpret_cast<const char*>(block);
  const void* nul = std::memchr(block, 0, TAR_NAME_SIZE);
  if (!nul && full == TarFullName::Damaged) return false;
  name.assign(text, nul ? static_cast<const char*>(nul) - text : TAR_NAME_SIZE);
  return true;
}

TarStep ParseTarHeader(const uint8_t (&block)[TAR_BLOCK_SIZE], TarMember& member) {
  if (block[0] == 0) return TarStep::End;
  if (!ReadTarName(block, TarFullName::Damaged, member.name)) return TarStep::Broken;
  const auto* text = reinterpret_cast<const char*>(block);
  const std::optional<uint64_t> size =
      ParseTarOctal(std::string_view(text + TAR_SIZE_OFFSET, TAR_SIZE_FIELD));
  if (!size) return TarStep::Broken;
  member.size = *size;
  return TarStep::Member;
}

void HeaderBlocks::Keep(uint64_t position, const uint8_t* block) {
  auto& kept = blocks_[position];
  std::copy(block, block + TAR_BLOCK_SIZE, kept.begin());
}

bool HeaderBlocks::Find(uint64_t position, uint8_t* block) const {
  const auto it = blocks_.find(position);
  if (it == blocks_.end()) return false;
  std::copy(it->second.begin(), it->second.end(), block);
  return true;
}

TarStep TarWalk::Broken(std::string problem) {
  problem_ = std::move(problem);
  return *(finished_ = TarStep::Broken);
}

bool TarWalk::ReadHeader(uint8_t* block) {
  if (options_.known && options_.known->Find(next_, block)) return true;
  if (!source_.ReadExactly(next_, block, TAR_BLOCK_SIZE)) return false;
  if (options_.keep) options_.keep->Keep(next_, block);
  return true;
}

TarStep TarWalk::Next(TarMember& member) {
  if (finished_) return *finished_;
  const uint64_t end = std::min(end_, source_.Length());
  for (;;) {
    if (next_ == end) return *(finished_ = TarStep::End);
    // A package cut short is refused: the members after the cut would silently not be sent.
    const auto at = static_cast<unsigned long long>(next_);
    if (next_ > end || end - next_ < TAR_BLOCK_SIZE) {
      return Broken(Format("the package ends inside the tar header at offset %llu", at));
    }
    const uint8_t* block = member.header.data();
    if (!ReadHeader(member.header.data())) {
      return Broken(Format("the tar header at offset %llu cannot be read", at));
    }
    if (block[0] == 0) return *(finished_ = TarStep::End);
    if (!ReadTarName(block, options_.fullNames, member.name)) {
      return Broken(Format("the tar header at offset %llu is damaged", at));
    }
    const auto* text = reinterpret_cast<const char*>(block);
    const std::optional<uint64_t> size =
        ParseTarOctal(std::string_view(text + TAR_SIZE_OFFSET, TAR_SIZE_FIELD));
    if (!size) return Broken("the member " + member.name + " has a damaged size field");
    member.size = *size;

    // Every entry lies whole in the package, padding included: one that does not is the sign
    // of a package cut short. Sizes are at most 12 octal digits (below 2^36), so these sums
    // cannot overflow.
    member.dataOffset = next_ + TAR_BLOCK_SIZE;
    if (TarPaddedSize(member.size) > end - member.dataOffset) {
      return Broken(
          Format("the member %s at offset %llu runs past its end", member.name.c_str(), at));
    }
    next_ = member.dataOffset + TarPaddedSize(member.size);
    if (const std::optional<TarStep> step = Classify(member)) return *step;
  }
}

std::optional<TarStep> TarWalk::Classify(TarMember& member) {
  const TarEntryClass entry = ClassifyTarEntry(member.header.data(), member.name);
  switch (entry.kind) {
    case TarEntryKind::File:
      return TarStep::Member;
    case TarEntryKind::Refused:
      return Broken("the member " + member.name + " " + entry.what);
    case TarEntryKind::Skipped:
      break;
    case TarEntryKind::Pax: {
      const std::string header = "the " + entry.what + " " + member.name;
      if (member.size > TAR_PAX_HEADER_LIMIT) return Broken(header + " is too large to check");
      std::string records(static_cast<size_t>(member.size), '\0');
      if (!source_.ReadExactly(member.dataOffset, records.data(), records.size())) {
        return Broken(header + " cannot be read");
      }
      const std::string problem = TarPaxProblem(records);
      if (!problem.empty()) return Broken(header + " " + problem);
      break;
    }
  }
  if (options_.passedOver) options_.passedOver(entry.what, member.name);
  return std::nullopt;
}

}  // namespace mirk3
