#include "packages/tar_walk.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace mirk3 {

std::optional<uint64_t> ParseTarOctal(std::string_view field) {
  uint64_t value = 0;
  for (const char c : field.substr(0, TAR_SIZE_FIELD)) {
    if (c == '\0') break;
    if (c < '0' || c > '7') return std::nullopt;
    value = value * 8 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

TarStep ParseTarHeader(const uint8_t (&block)[TAR_BLOCK_SIZE], TarMember& member) {
  if (block[0] == 0) return TarStep::END;
  const void* nul = std::memchr(block, 0, TAR_NAME_SIZE);
  if (!nul) return TarStep::BROKEN;
  const auto* text = reinterpret_cast<const char*>(block);
  const std::optional<uint64_t> size =
      ParseTarOctal(std::string_view(text + TAR_SIZE_OFFSET, TAR_SIZE_FIELD));
  if (!size) return TarStep::BROKEN;
  member.name.assign(text, static_cast<const char*>(nul) - text);
  member.size = *size;
  return TarStep::MEMBER;
}

void CHeaderBlocks::Keep(uint64_t position, const uint8_t (&block)[TAR_BLOCK_SIZE]) {
  auto& kept = blocks_[position];
  std::copy(std::begin(block), std::end(block), kept.begin());
}

bool CHeaderBlocks::Find(uint64_t position, uint8_t* block) const {
  const auto it = blocks_.find(position);
  if (it == blocks_.end()) return false;
  std::copy(it->second.begin(), it->second.end(), block);
  return true;
}

TarStep TarWalk::Next(TarMember& member) {
  if (finished_) return *finished_;
  const uint64_t length = source_.Length();
  if (next_ == length) return *(finished_ = TarStep::END);

  uint8_t block[TAR_BLOCK_SIZE];
  if (next_ > length || !source_.ReadExactly(next_, block, sizeof block)) {
    return *(finished_ = TarStep::BROKEN);
  }
  if (keep_) keep_->Keep(next_, block);
  const TarStep step = ParseTarHeader(block, member);
  if (step != TarStep::MEMBER) return *(finished_ = step);

  // Sizes are at most 12 octal digits (below 2^36), so these sums cannot overflow.
  member.dataOffset = next_ + TAR_BLOCK_SIZE;
  const uint64_t end = member.dataOffset + TarPaddedSize(member.size);
  if (end > length) return *(finished_ = TarStep::BROKEN);
  next_ = end;
  return TarStep::MEMBER;
}

}  // namespace mirk3
