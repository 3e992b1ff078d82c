#include "engine/pit_file.h"

#include <algorithm>

#include "base/file.h"
#include "base/text.h"

namespace mirk3 {

std::string PitTableProblem(const uint8_t* head, uint64_t size) {
  const auto bytes = static_cast<unsigned long long>(size);
  if (size < PIT_HEADER_SIZE) {
    return Format("not a partition table: %llu bytes, shorter than its %d-byte header", bytes,
                  PIT_HEADER_SIZE);
  }
  const int32_t count = PitHeader::Decode(head).EntryCount();
  if (size > MAX_PIT_SIZE) {
    return Format(
        "not a partition table: %llu bytes (%d entries counted), more than the %llu "
        "any table has",
        bytes, count, static_cast<unsigned long long>(MAX_PIT_SIZE));
  }
  if (count <= 0) return Format("not a partition table: %llu bytes, %d entries", bytes, count);
  const uint64_t needed = PIT_HEADER_SIZE + uint64_t{PIT_ENTRY_SIZE} * static_cast<uint32_t>(count);
  if (needed > size) {
    return Format("not a partition table: %llu bytes, too few for its %d entries (%llu bytes)",
                  bytes, count, static_cast<unsigned long long>(needed));
  }
  return "";
}

PitFileRead ReadPitTableAt(int fd, uint64_t offset, uint64_t size) {
  using Outcome = PitFileRead::Outcome;
  PitFileRead read;
  uint8_t head[PIT_HEADER_SIZE] = {};
  const auto headSize = static_cast<size_t>(std::min<uint64_t>(size, PIT_HEADER_SIZE));
  if (!ReadExactAt(fd, head, headSize, offset)) {
    read.problem = "cannot be read";
    return read;
  }
  read.problem = PitTableProblem(head, size);
  if (!read.problem.empty()) {
    read.outcome = Outcome::NotATable;
    return read;
  }
  read.bytes.resize(static_cast<size_t>(size));
  if (!ReadExactAt(fd, read.bytes.data(), read.bytes.size(), offset)) {
    read.bytes.clear();
    read.problem = "cannot be read whole";
    return read;
  }
  read.outcome = Outcome::Table;
  return read;
}

}  // namespace mirk3
